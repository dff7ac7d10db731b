// Masks the stored password in the "Account" panel and stores typed ones hashed.
#include "panels/ui/AccountPanelPassword.h"

#include "access/DataView.h"
#include "access/PasswordHash.h"
#include "panels/logic/AccountPanelLogic.h"

#include <QEvent>
#include <QLineEdit>
#include <QSqlQueryModel>

namespace kv::ui {

PasswordBoxBinding::PasswordBoxBinding(QLineEdit* box, access::DataView& users,
                                       admin::AccountPanelLogic& logic)
    : QObject(box), box_(box), users_(users), logic_(logic) {
    box_->setEchoMode(QLineEdit::Password);
    box_->installEventFilter(this);
    connect(box_, &QLineEdit::textEdited, this, &PasswordBoxBinding::edited);
    connect(&users_, &access::DataView::Reposition, this, [this] { load(true); });
    QAbstractItemModel* model = users_.model();
    connect(model, &QAbstractItemModel::dataChanged, this, [this] { load(false); });
    connect(model, &QAbstractItemModel::modelReset, this, [this] { load(true); });
    load(true);
}

void PasswordBoxBinding::load(bool force) {
    const QString stored = users_.Field(QStringLiteral("password"));
    // The row changed because of this box: the operator's typing stays.
    if (!force && (writing_ || (!written_.isNull() && stored == written_)))
        return;
    written_ = QString();
    loading_ = true;
    box_->setText(access::maskedPassword(stored));
    loading_ = false;
    showingMask_ = !stored.isEmpty();
}

void PasswordBoxBinding::edited(const QString& text) {
    if (loading_)
        return;
    writing_ = true;
    const std::optional<QString> stored = logic_.setPassword(text);
    writing_ = false;
    if (!stored) {
        load(true); // nothing to edit, or nothing stored: show what the row holds
        return;
    }
    written_ = *stored;
    showingMask_ = false;
}

bool PasswordBoxBinding::eventFilter(QObject* watched, QEvent* event) {
    if (watched == box_ && showingMask_) {
        // Typing starts a new password rather than adding to the mask; leaving
        // without typing shows the mask again and keeps the stored value.
        if (event->type() == QEvent::FocusIn) {
            loading_ = true;
            box_->clear();
            loading_ = false;
        } else if (event->type() == QEvent::FocusOut) {
            load(true);
        }
    }
    return QObject::eventFilter(watched, event);
}

PasswordColumnDelegate::PasswordColumnDelegate(admin::AccountPanelLogic& logic, QObject* parent)
    : QStyledItemDelegate(parent), logic_(logic) {}

QString PasswordColumnDelegate::displayText(const QVariant& value, const QLocale&) const {
    return access::maskedPassword(value.toString());
}

QWidget* PasswordColumnDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                              const QModelIndex&) const {
    auto* editor = new QLineEdit(parent);
    editor->setObjectName(QStringLiteral("txtGridPassword"));
    editor->setEchoMode(QLineEdit::Password);
    editor->setFrame(false);
    return editor;
}

void PasswordColumnDelegate::setEditorData(QWidget*, const QModelIndex&) const {
    // The editor starts empty: the stored value is never put on screen.
}

void PasswordColumnDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                          const QModelIndex& index) const {
    const QString typed = static_cast<QLineEdit*>(editor)->text();
    if (typed.isEmpty())
        return;
    if (const std::optional<QString> stored = logic_.passwordToStore(typed))
        model->setData(index, *stored, Qt::EditRole);
}

} // namespace kv::ui
