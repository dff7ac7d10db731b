#include "window/HelpBrowser.h"

#include "desktop/WebAddresses.h"
#include "layout/PanelLayout.h"

#include <QFile>
#include <QFileInfo>

namespace kv::ui {

HelpBrowser::HelpBrowser(ExternalOpener openExternal, QWidget* parent)
    : QTextBrowser(parent), openExternal_(std::move(openExternal)) {
    setObjectName(QStringLiteral("WebBrowser1"));
    shell::setLayoutKind(this, shell::ChildKind::Browser);
    setOpenLinks(false);
    setFrameShape(QFrame::StyledPanel);
    document()->setDocumentMargin(14);
    connect(this, &QTextBrowser::anchorClicked, this, &HelpBrowser::follow);
}

QString HelpBrowser::bundledPage(const QUrl& url) {
    if (url.host() != shell::kMakerHost)
        return {};
    QString path = url.path();
    if (!path.startsWith(QLatin1String("/ftpserver/")))
        return {};
    QString name = QFileInfo(path).fileName();
    if (name.isEmpty() || name == QLatin1String("index.php"))
        name = QStringLiteral("index.html");
    const QString page = QStringLiteral(":/help/") + name;
    return QFile::exists(page) ? page : QString();
}

void HelpBrowser::navigate(const QString& address) {
    address_ = address;
    if (address == QLatin1String("about:blank")) {
        setSource(QUrl());
        clear();
        return;
    }
    setSource(QUrl(address));
}

void HelpBrowser::reloadPage() {
    if (address_ == QLatin1String("about:blank"))
        return;
    reload();
}

QVariant HelpBrowser::loadResource(int type, const QUrl& name) {
    const QString page = bundledPage(name);
    if (!page.isEmpty()) {
        QFile file(page);
        if (file.open(QIODevice::ReadOnly))
            return QString::fromUtf8(file.readAll());
    }
    if (name.host() == shell::kMakerHost) {
        return QStringLiteral("<h2>Pagina non trovata</h2><p>La pagina richiesta non fa parte "
                              "della guida. <a href=\"index.php\">Torna all'indice</a>.</p>");
    }
    return QTextBrowser::loadResource(type, name);
}

void HelpBrowser::follow(const QUrl& link) {
    const QUrl target = source().resolved(link);
    if (link.isRelative() || target.host() == shell::kMakerHost) {
        if (!link.fragment().isEmpty() && link.path().isEmpty()) {
            scrollToAnchor(link.fragment());
            return;
        }
        address_ = target.toString();
        setSource(target);
        return;
    }
    if (openExternal_)
        openExternal_(link);
}

} // namespace kv::ui
