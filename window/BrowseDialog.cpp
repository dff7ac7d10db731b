// Choosing a folder or a file on a remote server's disk.
#include "window/BrowseDialog.h"

#include "adminchannel/AdminConnection.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace kv::ui {

QString serverChildPath(const QString& folder, const QString& name) {
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

QString serverFileStart(const QString& current, const QString& dataFolder) {
    if (!current.startsWith(u'/'))
        return dataFolder;
    const qsizetype slash = current.lastIndexOf(u'/');
    return slash == 0 ? QStringLiteral("/") : current.left(slash);
}

namespace {
// Set on the list's rows that are folders.
constexpr int kIsFolderRole = Qt::UserRole;
} // namespace

BrowseDialog::BrowseDialog(AdminConnection& connection, const QString& prompt, const QString& start,
                           QWidget* parent, Pick pick)
    : QDialog(parent), connection_(connection), pick_(pick) {
    setObjectName(QStringLiteral("BrowseDialog"));
    setWindowTitle(pick_ == Pick::File ? QStringLiteral("File del server")
                                       : QStringLiteral("Cartelle del server"));
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
    connect(list_, &QListWidget::itemActivated, this, &BrowseDialog::onActivated);
    connect(buttons, &QDialogButtonBox::accepted, this, &BrowseDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &BrowseDialog::reject);
    open(start);
}

void BrowseDialog::open(const QString& path) {
    const quint64 mine = ++asked_;
    note_->setText(QStringLiteral("Lettura delle cartelle del server..."));
    QPointer<BrowseDialog> self(this);
    QJsonObject request{{QStringLiteral("op"), QStringLiteral("browse")},
                        {QStringLiteral("path"), path}};
    if (pick_ == Pick::File)
        request.insert(QStringLiteral("files"), true);
    connection_.request(request, [self, mine](const std::optional<QJsonObject>& answer) {
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
        // Choosing a file, icons tell the folders from the files that follow them.
        const bool icons = pick_ == Pick::File;
        for (const QJsonValue& name : answer->value(QStringLiteral("folders")).toArray()) {
            auto* item = new QListWidgetItem(name.toString(), list_);
            item->setData(kIsFolderRole, true);
            if (icons)
                item->setIcon(style()->standardIcon(QStyle::SP_DirIcon));
        }
        for (const QJsonValue& name : answer->value(QStringLiteral("files")).toArray())
            new QListWidgetItem(style()->standardIcon(QStyle::SP_FileIcon), name.toString(), list_);
        note_->setText(answer->value(QStringLiteral("truncated")).toBool()
                           ? (icons ? QStringLiteral("Elenco troncato: troppi elementi")
                                    : QStringLiteral("Elenco troncato: troppe cartelle"))
                           : QString());
    }
    Q_EMIT shown();
}

void BrowseDialog::onActivated(QListWidgetItem* item) {
    if (item->data(kIsFolderRole).toBool()) {
        open(serverChildPath(current_, item->text()));
        return;
    }
    chosen_ = serverChildPath(current_, item->text()); // a file: the one chosen
    QDialog::accept();
}

void BrowseDialog::accept() {
    if (current_.isEmpty())
        return; // nothing shown yet
    QListWidgetItem* selected = list_->currentItem();
    if (pick_ == Pick::File) {
        if (!selected || !selected->isSelected())
            return; // a file is to be chosen
        if (selected->data(kIsFolderRole).toBool()) {
            open(serverChildPath(current_, selected->text()));
            return;
        }
        chosen_ = serverChildPath(current_, selected->text());
        QDialog::accept();
        return;
    }
    chosen_ =
        selected && selected->isSelected() ? serverChildPath(current_, selected->text()) : current_;
    QDialog::accept();
}

} // namespace kv::ui
