// Paints the rate history: a framed plot with a half-scale guide, the full
// scale's rate at the top right, a legend, and one line per direction.
#include "window/RateGraph.h"

#include "monitor/TransferRates.h"

#include <QPainter>
#include <QPainterPath>

namespace kv::ui {

RateGraph::RateGraph(const monitor::TransferRates& rates, QWidget* parent)
    : QWidget(parent), rates_(rates) {
    setObjectName(QStringLiteral("picRateGraph"));
    setAutoFillBackground(false);
    setToolTip(QStringLiteral("Velocità totale degli ultimi cinque minuti"));
}

QColor RateGraph::downloadColor() const {
    return palette().color(QPalette::Highlight);
}

QColor RateGraph::uploadColor() const {
    // Green stays apart from any highlight colour, on light and dark bases.
    return palette().color(QPalette::Base).lightness() > 128 ? QColor(0x1e, 0x8a, 0x3c)
                                                             : QColor(0x6c, 0xd6, 0x7f);
}

void RateGraph::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& pal = palette();
    const QRectF whole = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.fillRect(rect(), pal.color(QPalette::Base));
    p.setPen(pal.color(QPalette::Mid));
    p.drawRect(whole);

    const int line = fontMetrics().height();
    const QRectF text = whole.adjusted(6, 2, -6, 0);
    p.setPen(pal.color(QPalette::Text));
    p.drawText(text, Qt::AlignLeft | Qt::AlignTop, QStringLiteral("Ultimi 5 minuti"));
    p.drawText(text, Qt::AlignRight | Qt::AlignTop, monitor::rateText(rates_.scale()));
    // The legend in the middle of the top line.
    const QString down = QStringLiteral("Download"), up = QStringLiteral("Upload");
    const int box = line / 2;
    const int gap = box + 4;
    const int legendWidth = 2 * gap + fontMetrics().horizontalAdvance(down + up) + 12;
    int x = int(whole.center().x()) - legendWidth / 2;
    for (const auto& [label, colour] : {std::pair{down, downloadColor()}, {up, uploadColor()}}) {
        p.fillRect(x, int(text.top()) + (line - box) / 2, box, box, colour);
        p.drawText(QPointF(x + gap, text.top() + fontMetrics().ascent()), label);
        x += gap + fontMetrics().horizontalAdvance(label) + 12;
    }

    const QRectF plot = whole.adjusted(6, line + 4, -6, -4);
    if (plot.height() < 4 || plot.width() < 4)
        return;
    p.setPen(QPen(pal.color(QPalette::Mid), 1, Qt::DotLine));
    p.drawLine(QPointF(plot.left(), plot.center().y()), QPointF(plot.right(), plot.center().y()));

    p.setRenderHint(QPainter::Antialiasing);
    const double scale = rates_.scale();
    for (const bool upload : {false, true}) {
        p.setPen(QPen(upload ? uploadColor() : downloadColor(), 1.5));
        p.drawPolyline(monitor::graphLine(rates_.history(), upload, plot, scale));
    }
}

} // namespace kv::ui
