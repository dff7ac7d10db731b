#pragma once
// The Help panel's browser (WebBrowser1): shows the program's own Italian
// help pages. They are bundled with the program and served for the maker's
// help addresses, so the navigation works on the maker's address as if the
// site were there; links to any other host open in the user's browser.

#include <QTextBrowser>
#include <functional>

namespace kv::ui {

class HelpBrowser : public QTextBrowser {
    Q_OBJECT
public:
    using ExternalOpener = std::function<void(const QUrl&)>;

    explicit HelpBrowser(ExternalOpener openExternal, QWidget* parent = nullptr);

    // The address shown: "about:blank" or a web address.
    QString address() const { return address_; }
    void navigate(const QString& address);
    void reloadPage();

    // The bundled page that serves a maker's address ("" when none does).
    static QString bundledPage(const QUrl& url);

protected:
    QVariant loadResource(int type, const QUrl& name) override;

private:
    void follow(const QUrl& link);

    ExternalOpener openExternal_;
    QString address_ = QStringLiteral("about:blank");
};

} // namespace kv::ui
