// The red frame and tooltip of a refused value.
#include "panels/ui/RefusalMark.h"

#include <QByteArrayView>
#include <QMetaObject>
#include <QVariant>
#include <QWidget>

namespace kv::ui {

namespace {
constexpr char kRefusalProperty[] = "kvRefusal";
constexpr char kPlainToolTipProperty[] = "kvPlainToolTip";

// The class a style sheet can name `widget` by: its own, or the nearest Qt
// class it derives from (a selector cannot hold a namespace's "::").
QLatin1String styleClassOf(const QWidget* widget) {
    const QMetaObject* meta = widget->metaObject();
    while (meta->superClass() && QByteArrayView(meta->className()).contains(':'))
        meta = meta->superClass();
    return QLatin1String(meta->className());
}
} // namespace

void markRefusal(QWidget* widget, const QString& reason) {
    if (refusalOf(widget) == reason)
        return;
    if (!widget->property(kPlainToolTipProperty).isValid())
        widget->setProperty(kPlainToolTipProperty, widget->toolTip());
    widget->setProperty(kRefusalProperty, reason);
    if (reason.isEmpty()) {
        widget->setStyleSheet(QString());
        widget->setToolTip(widget->property(kPlainToolTipProperty).toString());
        return;
    }
    // Only the widget itself is framed, not a list's line or popup inside it.
    widget->setStyleSheet(QStringLiteral("%1 { border: 2px solid %2; }")
                              .arg(styleClassOf(widget), QLatin1String(kRefusalColor)));
    widget->setToolTip(reason);
}

QString refusalOf(const QWidget* widget) {
    return widget->property(kRefusalProperty).toString();
}

} // namespace kv::ui
