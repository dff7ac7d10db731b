// Choosing a folder on a remote server's disk.
#include "window/BrowseDialog.h"

#include "adminchannel/AdminConnection.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace kv::ui {

QString serverChildPath(const QString& folder, const QString& name) {
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

BrowseDialog::BrowseDialog(AdminConnection& connection, const QString& prompt, const QString& start,
                           QWidget* parent)
    : QDialog(parent), connection_(connection) {
    setObjectName(QStringLiteral("BrowseDialog"));
    setWindowTitle(QStringLiteral("Cartelle del server"));
    auto* promptLabel = new QLabel(prompt, this);
    promptLabel->setWordWrap(true);
    path_ = new QLabel(this);
    path_->setObjectName(QStringLiteral("lblPath"));
    path_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    up_ = new QPushButton(QStringLiteral("Su"), this);
    up_->setObjectName(QStringLiteral("cmdUp"));
    up_->setEnabled(false);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("lstFolders"));
    note_ = new QLabel(this);
    note_->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

    auto* top = new QHBoxLayout;
    top->addWidget(path_, 1);
    top->addWidget(up_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(promptLabel);
    layout->addLayout(top);
    layout->addWidget(list_, 1);
    layout->addWidget(note_);
    layout->addWidget(buttons);
    resize(420, 380);

    connect(up_, &QPushButton::clicked, this, [this] { open(parentFolder_); });
    connect(list_, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { open(serverChildPath(current_, item->text())); });
    connect(buttons, &QDialogButtonBox::accepted, this, &BrowseDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &BrowseDialog::reject);
    open(start);
}

void BrowseDialog::open(const QString& path) {
    const quint64 mine = ++asked_;
    note_->setText(QStringLiteral("Lettura delle cartelle del server..."));
    QPointer<BrowseDialog> self(this);
    connection_.request(
        {{QStringLiteral("op"), QStringLiteral("browse")}, {QStringLiteral("path"), path}},
        [self, mine](const std::optional<QJsonObject>& answer) {
            if (self && mine == self->asked_)
                self->onAnswer(answer);
        });
}

void BrowseDialog::onAnswer(const std::optional<QJsonObject>& answer) {
    if (!answer) {
        note_->setText(QStringLiteral("Connessione con il server interrotta"));
    } else if (!answer->value(QStringLiteral("ok")).toBool()) {
        note_->setText(answer->value(QStringLiteral("error")).toString());
    } else {
        current_ = answer->value(QStringLiteral("path")).toString();
        parentFolder_ = answer->value(QStringLiteral("parent")).toString();
        path_->setText(current_);
        up_->setEnabled(!parentFolder_.isEmpty() && parentFolder_ != current_);
        list_->clear();
        for (const QJsonValue& name : answer->value(QStringLiteral("folders")).toArray())
            list_->addItem(name.toString());
        note_->setText(answer->value(QStringLiteral("truncated")).toBool()
                           ? QStringLiteral("Elenco troncato: troppe cartelle")
                           : QString());
    }
    Q_EMIT shown();
}

void BrowseDialog::accept() {
    if (current_.isEmpty())
        return; // nothing shown yet
    const QListWidgetItem* selected = list_->currentItem();
    chosen_ =
        selected && selected->isSelected() ? serverChildPath(current_, selected->text()) : current_;
    QDialog::accept();
}

} // namespace kv::ui
