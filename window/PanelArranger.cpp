// Lays a panel container's children out with the shell's panel layout.
#include "window/PanelArranger.h"

#include "core/Version.h"
#include "desktop/WebAddresses.h"
#include "layout/Twips.h"
#include "panels/ui/IpListGroup.h"

#include <QAbstractItemView>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTableView>
#include <QTextLayout>
#include <QWidget>
#include <cmath>

namespace kv::ui {

namespace {

int px(int twips) {
    return twipsToPixels(twips);
}
int tw(int pixels) {
    return static_cast<int>(pixelsToTwips(pixels));
}

int wrappedLines(const QString& text, int widthPx, const QFont& font) {
    int lines = 0;
    const QStringList paragraphs = QString(text)
                                       .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                                       .split(QLatin1Char('\n'));
    for (const QString& paragraph : paragraphs) {
        if (paragraph.isEmpty()) {
            ++lines;
            continue;
        }
        QTextLayout layout(paragraph, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WordWrap);
        layout.setTextOption(option);
        layout.beginLayout();
        int count = 0;
        while (true) {
            QTextLine line = layout.createLine();
            if (!line.isValid())
                break;
            line.setLineWidth(std::max(widthPx, 1));
            ++count;
        }
        layout.endLayout();
        lines += std::max(count, 1);
    }
    return std::max(lines, 1);
}

shell::ChildKind kindOf(const QWidget* w) {
    if (qobject_cast<const IpListGroup*>(w))
        return shell::ChildKind::IpList;
    return shell::layoutKind(w, qobject_cast<const QLabel*>(w) ? shell::ChildKind::Caption
                                                               : shell::ChildKind::Other);
}

} // namespace

int MisuraAltezzaTesto(const QString& text, int widthTwips, const QFont& font) {
    const int lines = wrappedLines(text, px(widthTwips), font);
    return shell::captionHeight(lines, tw(QFontMetrics(font).lineSpacing()));
}

void arrangePanel(int index, QWidget* panel, QWidget* viewport, QScrollBar* bar, bool windowVisible,
                  const ArrangeHooks& hooks) {
    if (!panel || !viewport || !bar)
        return;
    shell::LayoutInput in;
    in.panelIndex = index;
    in.windowVisible = windowVisible;
    in.viewportWidth = tw(viewport->width());
    in.viewportHeight = tw(viewport->height());
    in.scrollBarWidth = tw(bar->width());
    in.currentPanelWidth = tw(panel->width());
    in.browserAddress = hooks.browserAddress ? hooks.browserAddress() : QString();

    QList<QWidget*> widgets;
    QList<QFont> fonts;
    for (QObject* o : panel->children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (!w || w->isHidden() || w->isWindow())
            continue;
        shell::LayoutChild c;
        c.kind = kindOf(w);
        c.top = tw(w->y());
        c.left = tw(w->x());
        c.width = tw(w->width());
        c.height = tw(w->height());
        if (auto* label = qobject_cast<QLabel*>(w))
            c.caption = label->text();
        if (auto* list = qobject_cast<IpListGroup*>(w)) {
            c.gridRowHeight = tw(list->grid()->verticalHeader()->defaultSectionSize());
            c.commandHeight = tw(list->commands()->height());
        }
        widgets.append(w);
        in.children.append(c);
    }
    // Captions are measured with the font of their own label.
    const QFont panelFont = panel->font();
    QHash<QString, QFont> fontByCaption;
    for (int i = 0; i < widgets.size(); ++i) {
        if (in.children[i].kind == shell::ChildKind::Caption)
            fontByCaption.insert(in.children[i].caption, widgets[i]->font());
    }
    in.measure = [&](const QString& text, int width) {
        return MisuraAltezzaTesto(text, width, fontByCaption.value(text, panelFont));
    };

    const QString help = shell::helpPageAddress(kVersionMajor, kVersionMinor, kVersionRevision);
    const shell::LayoutResult r = shell::layoutPanel(in, shell::kMakerHost, help);
    if (!r.applied)
        return;

    panel->move(0, 0);
    bar->move(px(r.scrollBarLeft), bar->y());
    if (r.scrollBarHeight)
        bar->resize(bar->width(), px(*r.scrollBarHeight));

    for (int i = 0; i < widgets.size(); ++i) {
        QWidget* w = widgets[i];
        const shell::ChildPlacement& p = r.children[i];
        const int width = p.width ? px(*p.width) : w->width();
        const int height = p.height ? px(*p.height) : w->height();
        w->setGeometry(w->x(), px(p.top), width, height);
        if (p.clearCaption) {
            if (auto* label = qobject_cast<QLabel*>(w))
                label->clear();
        }
        if (auto* list = qobject_cast<IpListGroup*>(w)) {
            if (p.gridHeight)
                list->grid()->resize(w->width(), px(*p.gridHeight));
            if (p.commandTop)
                list->commands()->move(list->commands()->x(), px(*p.commandTop));
            list->AdattaGrigliaIP();
        }
        if (in.children[i].kind == shell::ChildKind::OnlineList && hooks.adattaColonneOnline)
            hooks.adattaColonneOnline();
    }
    if (r.panelWidth)
        panel->resize(px(*r.panelWidth), panel->height());
    if (r.panelHeight)
        panel->resize(panel->width(), px(*r.panelHeight));

    bar->setEnabled(r.scrollEnabled);
    bar->setVisible(r.scrollVisible);
    if (r.scrollEnabled) {
        bar->setMinimum(0);
        if (r.scrollMax)
            bar->setMaximum(*r.scrollMax);
    }
    // The panel was laid out from its top: the bar says so, or the first
    // step of the wheel would jump to where the previous panel was.
    bar->setValue(0);
    if (r.browser != shell::BrowserAction::None && hooks.browse)
        hooks.browse(r.browser, r.browserTarget);
}

} // namespace kv::ui
