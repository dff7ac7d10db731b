#include "window/Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace kv::ui::art {

namespace {

const QColor kNavy(0x1f, 0x3a, 0x5f);
const QColor kTeal(0x1f, 0x8a, 0x8a);

QPixmap canvas(int w, int h) {
    QPixmap pm(w, h);
    pm.fill(Qt::transparent);
    return pm;
}

void roundTile(QPainter& p, const QRectF& r, const QColor& top, const QColor& bottom) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setPen(QPen(bottom.darker(130), 1));
    p.setBrush(g);
    p.drawRoundedRect(r, 6, 6);
}

void person(QPainter& p, const QPointF& c, double s, const QColor& color) {
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(c + QPointF(0, -s * 0.45), s * 0.28, s * 0.28);
    QPainterPath body;
    body.moveTo(c + QPointF(-s * 0.5, s * 0.55));
    body.cubicTo(c + QPointF(-s * 0.5, -s * 0.1), c + QPointF(s * 0.5, -s * 0.1),
                 c + QPointF(s * 0.5, s * 0.55));
    body.closeSubpath();
    p.drawPath(body);
}

void drawAccount(QPainter& p) {
    roundTile(p, QRectF(1.5, 1.5, 29, 29), QColor(0x5b, 0x9b, 0xd5), QColor(0x2e, 0x6d, 0xa4));
    person(p, QPointF(12, 17), 14, QColor(255, 255, 255, 170));
    person(p, QPointF(19, 18), 16, Qt::white);
}

void drawSettings(QPainter& p) {
    roundTile(p, QRectF(1.5, 1.5, 29, 29), QColor(0x9a, 0xa5, 0xb1), QColor(0x5d, 0x6b, 0x7a));
    p.translate(16, 16);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    for (int i = 0; i < 8; ++i) {
        p.drawRoundedRect(QRectF(-2.5, -11.5, 5, 6), 1, 1);
        p.rotate(45);
    }
    p.drawEllipse(QPointF(0, 0), 8, 8);
    p.setBrush(QColor(0x5d, 0x6b, 0x7a));
    p.drawEllipse(QPointF(0, 0), 3.5, 3.5);
    p.resetTransform();
}

void drawSecurity(QPainter& p) {
    roundTile(p, QRectF(1.5, 1.5, 29, 29), QColor(0x6c, 0xc0, 0x6e), QColor(0x2e, 0x7d, 0x32));
    QPainterPath shield;
    shield.moveTo(16, 5);
    shield.lineTo(25, 8.5);
    shield.cubicTo(25, 18, 21, 23.5, 16, 27);
    shield.cubicTo(11, 23.5, 7, 18, 7, 8.5);
    shield.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(shield);
    p.setPen(QPen(QColor(0x2e, 0x7d, 0x32), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(11.5, 15.5), QPointF(15, 19), QPointF(21, 12)}));
}

void drawLog(QPainter& p) {
    roundTile(p, QRectF(1.5, 1.5, 29, 29), QColor(0xf0, 0xb4, 0x4c), QColor(0xc7, 0x7c, 0x0e));
    p.setPen(QPen(QColor(0x80, 0x80, 0x80), 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(8.5, 5.5, 15, 21));
    p.setPen(QPen(QColor(0x55, 0x55, 0x55), 1.4));
    for (int i = 0; i < 5; ++i)
        p.drawLine(QPointF(11, 10 + i * 3.5), QPointF(i % 2 ? 18 : 21, 10 + i * 3.5));
}

void drawOnline(QPainter& p) {
    roundTile(p, QRectF(1.5, 1.5, 29, 29), QColor(0x4d, 0xc3, 0xc3), kTeal);
    p.setPen(QPen(Qt::white, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(16, 16), 10, 10);
    p.drawEllipse(QRectF(11.5, 6, 9, 20));
    p.drawLine(QPointF(6, 16), QPointF(26, 16));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x7c, 0xff, 0x7c));
    p.drawEllipse(QPointF(24, 24), 4, 4);
}

void drawHelp(QPainter& p) {
    roundTile(p, QRectF(1.5, 1.5, 29, 29), QColor(0xa5, 0x7f, 0xd6), QColor(0x67, 0x3a, 0xb7));
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(21);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 0, 32, 32), Qt::AlignCenter, QStringLiteral("?"));
}

void drawServerBadge(QPainter& p, int size, bool online) {
    const double s = size;
    p.setPen(QPen(QColor(0x33, 0x33, 0x33), 1));
    QLinearGradient g(0, 0, 0, s);
    g.setColorAt(0, QColor(0xe8, 0xec, 0xf0));
    g.setColorAt(1, QColor(0xa8, 0xb2, 0xbd));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(s * 0.12, s * 0.06, s * 0.62, s * 0.88), s * 0.08, s * 0.08);
    p.setPen(QPen(QColor(0x55, 0x5f, 0x6a), std::max(1.0, s / 16)));
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(s * 0.22, s * (0.25 + i * 0.18)),
                   QPointF(s * 0.62, s * (0.25 + i * 0.18)));
    const QColor lamp = online ? QColor(0x2e, 0xcc, 0x40) : QColor(0xe0, 0x3c, 0x31);
    QRadialGradient r(QPointF(s * 0.72, s * 0.72), s * 0.26);
    r.setColorAt(0, lamp.lighter(150));
    r.setColorAt(1, lamp.darker(120));
    p.setPen(QPen(lamp.darker(170), 1));
    p.setBrush(r);
    p.drawEllipse(QPointF(s * 0.72, s * 0.72), s * 0.25, s * 0.25);
}

} // namespace

QPixmap categoryIcon(int index) {
    QPixmap pm = canvas(32, 32);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    switch (index) {
    case 0:
        drawAccount(p);
        break;
    case 1:
        drawSettings(p);
        break;
    case 2:
        drawSecurity(p);
        break;
    case 3:
        drawLog(p);
        break;
    case 4:
        drawOnline(p);
        break;
    default:
        drawHelp(p);
        break;
    }
    return pm;
}

QPixmap statusPicture(bool online) {
    QPixmap pm = canvas(16, 16);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    drawServerBadge(p, 16, online);
    return pm;
}

QPixmap usersPicture(bool anyone) {
    QPixmap pm = canvas(16, 16);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor c = anyone ? QColor(0x2e, 0x6d, 0xa4) : QColor(0xa0, 0xa0, 0xa0);
    person(p, QPointF(6, 9), 8, c.lighter(anyone ? 140 : 110));
    person(p, QPointF(10, 9.5), 9, c);
    return pm;
}

namespace {
QPixmap badge(int size, bool online) {
    QPixmap pm = canvas(size, size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    drawServerBadge(p, size, online);
    return pm;
}
} // namespace

QIcon trayIcon(bool online) {
    QIcon icon;
    for (int size : {16, 22, 32, 48})
        icon.addPixmap(badge(size, online));
    return icon;
}

QIcon programIcon() {
    return trayIcon(true);
}

QPixmap programPicture(int size) {
    return badge(size, true);
}

QPixmap banner() {
    QPixmap pm(396, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 396, 0);
    g.setColorAt(0, kNavy);
    g.setColorAt(0.65, QColor(0x2b, 0x5f, 0x8f));
    g.setColorAt(1, kTeal);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 0.5, 395, 31), 7, 7);
    // A stylised folder with an arrow: sharing files.
    p.setBrush(QColor(0xff, 0xc9, 0x4d));
    p.drawRoundedRect(QRectF(9, 9, 9, 5), 1.5, 1.5);
    p.drawRoundedRect(QRectF(9, 11, 22, 14), 2, 2);
    p.setPen(QPen(kNavy, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(15, 18), QPointF(25, 18));
    p.drawPolyline(QPolygonF({QPointF(21.5, 14.5), QPointF(25, 18), QPointF(21.5, 21.5)}));

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(15);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRectF(40, 0, 200, 32), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("Kestrova Vellim"));
    QFont sub(QStringLiteral("DejaVu Sans"));
    sub.setPixelSize(10);
    p.setFont(sub);
    p.setPen(QColor(0xd8, 0xe8, 0xf5));
    p.drawText(QRectF(180, 0, 206, 32), Qt::AlignVCenter | Qt::AlignRight,
               QStringLiteral("server FTP per il tuo PC  \u203a"));
    return pm;
}

namespace {
QIcon toolIcon(bool start) {
    QIcon icon;
    for (int size : {16, 24, 32}) {
        QPixmap pm = canvas(size, size);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        const double s = size;
        const QColor c = start ? QColor(0x2e, 0x9d, 0x40) : QColor(0xc6, 0x32, 0x2a);
        QRadialGradient r(QPointF(s * 0.4, s * 0.35), s * 0.6);
        r.setColorAt(0, c.lighter(140));
        r.setColorAt(1, c);
        p.setPen(QPen(c.darker(140), 1));
        p.setBrush(r);
        p.drawEllipse(QRectF(1, 1, s - 2, s - 2));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        if (start) {
            p.drawPolygon(QPolygonF({QPointF(s * 0.4, s * 0.28), QPointF(s * 0.72, s * 0.5),
                                     QPointF(s * 0.4, s * 0.72)}));
        } else {
            p.drawRect(QRectF(s * 0.32, s * 0.32, s * 0.36, s * 0.36));
        }
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}
} // namespace

QIcon startIcon() {
    return toolIcon(true);
}
QIcon stopIcon() {
    return toolIcon(false);
}

} // namespace kv::ui::art
