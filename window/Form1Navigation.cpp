// The main window's navigation: the list of the six categories, which panel
// shows for each, and laying the shown panel and the frame out again when the
// window changes size, and the window size kept between runs.
#include "window/Form1.h"

#include "core/NumberConversion.h"
#include "core/ProgramCore.h"
#include "layout/FrameLayout.h"
#include "layout/Twips.h"
#include "window/Artwork.h"
#include "window/HelpBrowser.h"
#include "window/OnlinePanel.h"
#include "window/PanelArranger.h"

#include <QLabel>
#include <QListWidget>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <cmath>

namespace kv::ui {

namespace {

int px(double twips) {
    return twipsToPixels(twips);
}
int tw(int pixels) {
    return static_cast<int>(pixelsToTwips(pixels));
}

const QString kWidth = QStringLiteral("Width");
const QString kHeight = QStringLiteral("Height");

const std::array<QString, kPanelCount> kCategories = {
    QStringLiteral("Account"), QStringLiteral("Impostazioni"), QStringLiteral("Sicurezza"),
    QStringLiteral("Log"),     QStringLiteral("Online"),       QStringLiteral("Help")};

} // namespace

void Form1::CaricaLista() {
    lvwMenu->clear();
    for (int i = 0; i < kPanelCount; ++i) {
        auto* item = new QListWidgetItem(QIcon(art::categoryIcon(i)), kCategories[i], lvwMenu);
        item->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    }
}

void Form1::selectItem(int position) {
    if (position < 1 || position > kPanelCount)
        return;
    for (int i = 0; i < kPanelCount; ++i)
        picPanel_[i]->setVisible(i + 1 == position);
    {
        const QSignalBlocker quiet(lvwMenu); // the list's own moves come here too
        lvwMenu->setCurrentRow(position - 1);
    }
    lblTitle->setText(kCategories[position - 1]);
    cmdSelected->setIcon(QIcon(art::categoryIcon(position - 1)));
    pannelloCorrente_ = position - 1;
    OrdinaPannello(position - 1);
}

QString Form1::titleText() const {
    return lblTitle->text();
}

void Form1::OrdinaPannello(int index) {
    if (index < 0 || index >= kPanelCount)
        return;
    ArrangeHooks hooks;
    hooks.adattaColonneOnline = [this] { online_->AdattaColonneOnline(); };
    hooks.browserAddress = [this] { return WebBrowser1->address(); };
    hooks.browse = [this](shell::BrowserAction action, const QString& target) {
        if (action == shell::BrowserAction::Reload)
            WebBrowser1->reloadPage();
        else if (action == shell::BrowserAction::Navigate)
            WebBrowser1->navigate(target);
    };
    arrangePanel(index, picPanel_[index], picMain, VScroll1, isVisible() && !hiddenInTray_, hooks);
}

void Form1::loadWindowSize() {
    const auto read = [this](const QString& name, int fallback) {
        const QString text =
            core_.settings().value(kAppTarrow, kSectionAppIni, name, QString::number(fallback));
        return static_cast<int>(std::lround(leadingNumber(text)));
    };
    const int height = read(kHeight, shell::kDefaultHeight);
    const int width = read(kWidth, shell::kDefaultWidth);
    resize(std::max(px(width), 1), std::max(px(height), 1));
}

void Form1::Form_Resize() {
    if (isMinimized()) {
        minimiseToTray();
        return;
    }
    const shell::FrameGeometry g = shell::frameGeometry(tw(width()), tw(height()));
    placeBanner();
    if (g.mainWidth >= 0)
        picMain->resize(px(g.mainWidth), picMain->height());
    if (g.titleWidth >= 0)
        picTitle->resize(px(g.titleWidth), picTitle->height());
    if (g.menuHeight >= 0)
        lvwMenu->resize(lvwMenu->width(), px(g.menuHeight));
    if (g.mainHeight >= 0)
        picMain->resize(picMain->width(), px(g.mainHeight));
    OrdinaPannello(pannelloCorrente_);
    // Only the normal state's size is remembered, so a restart comes back to it.
    if (!(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized))) {
        core_.settings().setValue(kAppTarrow, kSectionAppIni, kWidth, QString::number(tw(width())));
        core_.settings().setValue(kAppTarrow, kSectionAppIni, kHeight,
                                  QString::number(tw(height())));
    }
}

void Form1::placeBanner() {
    const shell::FrameGeometry g = shell::frameGeometry(tw(width()), tw(height()));
    // Never over the toolbar's buttons, whatever their texts and fonts make them.
    int buttonsRight = 0;
    if (QWidget* last = Toolbar1->widgetForAction(Toolbar1->actions().constLast()))
        buttonsRight = last->mapTo(this, QPoint(last->width(), 0)).x() + px(shell::kMenu.left);
    picBanner->move(std::max(px(g.bannerLeft), buttonsRight), picBanner->y());
    picBanner->raise();
}

void Form1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

} // namespace kv::ui
