#include "panels/ui/ViewBinder.h"

#include "access/DataView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSqlQueryModel>

namespace kv::ui {

ViewBinder::ViewBinder(access::DataView& view, QObject* parent) : QObject(parent), view_(view) {
    connect(&view_, &access::DataView::Reposition, this, &ViewBinder::load);
    QAbstractItemModel* model = view_.model();
    connect(model, &QAbstractItemModel::dataChanged, this, &ViewBinder::load);
    connect(model, &QAbstractItemModel::modelReset, this, &ViewBinder::load);
}

void ViewBinder::bind(QLineEdit* box, const QString& field) {
    bindings_.append({Kind::Line, box, field});
    connect(box, &QLineEdit::textChanged, this,
            [this, field](const QString& text) { writeText(field, text); });
    loadOne(bindings_.last());
}

void ViewBinder::bind(QCheckBox* box, const QString& field) {
    bindings_.append({Kind::Check, box, field});
    // A greyed box (a null field) becomes a plain ticked/clear box once clicked.
    connect(box, &QCheckBox::clicked, box, [box] { box->setTristate(false); });
    connect(box, &QCheckBox::stateChanged, this, [this, box, field] { writeCheck(box, field); });
    loadOne(bindings_.last());
}

void ViewBinder::bind(QComboBox* box, const QString& field) {
    bindings_.append({Kind::Combo, box, field});
    connect(box, &QComboBox::editTextChanged, this,
            [this, field](const QString& text) { writeText(field, text); });
    loadOne(bindings_.last());
}

void ViewBinder::load() {
    for (const Binding& binding : std::as_const(bindings_))
        loadOne(binding);
}

void ViewBinder::loadOne(const Binding& binding) {
    if (!binding.widget)
        return;
    loading_ = true;
    const QString text = view_.Field(binding.field);
    switch (binding.kind) {
    case Kind::Line: {
        auto* box = static_cast<QLineEdit*>(binding.widget.data());
        if (box->text() != text) // rewriting the same text would move the cursor
            box->setText(text);
        break;
    }
    case Kind::Combo: {
        auto* box = static_cast<QComboBox*>(binding.widget.data());
        if (box->currentText() != text)
            box->setEditText(text);
        break;
    }
    case Kind::Check: {
        auto* box = static_cast<QCheckBox*>(binding.widget.data());
        const bool isNull = view_.hasCurrentRow() && view_.value(binding.field).isNull();
        box->setTristate(isNull);
        box->setCheckState(isNull ? Qt::PartiallyChecked
                                  : (view_.isTrue(binding.field) ? Qt::Checked : Qt::Unchecked));
        break;
    }
    }
    loading_ = false;
}

void ViewBinder::writeText(const QString& field, const QString& text) {
    if (loading_)
        return;
    if (!view_.hasCurrentRow()) {
        load(); // with no row there is nothing to edit: the control shows that again
        return;
    }
    if (view_.Field(field) == text)
        return;
    view_.setField(field, text);
}

void ViewBinder::writeCheck(QCheckBox* box, const QString& field) {
    if (loading_ || box->checkState() == Qt::PartiallyChecked)
        return;
    if (!view_.hasCurrentRow()) {
        load();
        return;
    }
    const bool checked = box->checkState() == Qt::Checked;
    if (!view_.value(field).isNull() && view_.isTrue(field) == checked)
        return;
    view_.setField(field, checked);
}

} // namespace kv::ui
