#pragma once
// Binds edit boxes, check boxes and editable lists to fields of a view's
// current row, as bound controls do: they show the row's values whenever the
// row or its data changes, and each change the operator makes goes into the
// row at once (pending until the view commits it). Only the field that changed
// is written, so untouched fields keep what the file holds (null included).

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QWidget;

namespace kv::access {
class DataView;
}

namespace kv::ui {

class ViewBinder : public QObject {
    Q_OBJECT
public:
    ViewBinder(access::DataView& view, QObject* parent = nullptr);

    void bind(QLineEdit* box, const QString& field);
    void bind(QCheckBox* box, const QString& field);
    void bind(QComboBox* box, const QString& field);

    // Shows the current row's values in every bound control.
    void load();

private:
    enum class Kind { Line, Check, Combo };
    struct Binding {
        Kind kind;
        QPointer<QWidget> widget;
        QString field;
    };
    void loadOne(const Binding& binding);
    void writeText(const QString& field, const QString& text);
    void writeCheck(QCheckBox* box, const QString& field);

    access::DataView& view_;
    QList<Binding> bindings_;
    bool loading_ = false;
};

} // namespace kv::ui
