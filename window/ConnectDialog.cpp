// The dialog that opens a remote server in a new window, and the recent servers.
#include "window/ConnectDialog.h"

#include "settings/SettingsStore.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QSpinBox>
#include <QVBoxLayout>

namespace kv::ui {

namespace {

const QString kSection = QStringLiteral("RemoteServers");
const QString kRecent = QStringLiteral("Recent");

} // namespace

QStringList recentServers(const SettingsStore& store) {
    return store.value(kAppTarrow, kSection, kRecent).split(u' ', Qt::SkipEmptyParts);
}

void rememberRecentServer(SettingsStore& store, const RemoteServerAddress& server) {
    QStringList list = recentServers(store);
    list.removeAll(server.text());
    list.prepend(server.text());
    store.setValue(kAppTarrow, kSection, kRecent,
                   list.mid(0, kRecentServers).join(QLatin1Char(' ')));
}

std::optional<QString> startRemoteWindow(const RemoteServerAddress& server,
                                         const QString& password) {
    // Not startDetached(): the password goes through a pipe, never the
    // command line or a file. The process object is left to live on when
    // this program ends, so ending it does not end the other window.
    auto* process = new QProcess;
    process->setProgram(QCoreApplication::applicationFilePath());
    process->setArguments({QStringLiteral("--remote"), server.text(),
                           QStringLiteral("--admin-password-file"), QStringLiteral("-")});
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    process->start();
    if (!process->waitForStarted(5000)) {
        const QString reason = process->errorString();
        delete process;
        return QStringLiteral("Impossibile aprire la finestra del server remoto: %1").arg(reason);
    }
    process->write(password.toUtf8() + '\n');
    process->closeWriteChannel();
    return std::nullopt;
}

ConnectDialog::ConnectDialog(const QStringList& recent, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ConnectDialog"));
    setWindowTitle(QStringLiteral("Connetti a un server"));
    server_box_ = new QComboBox(this);
    server_box_->setObjectName(QStringLiteral("cboServer"));
    server_box_->setEditable(true);
    server_box_->addItems(recent);
    server_box_->setCurrentText(QString());
    server_box_->setMinimumContentsLength(24);
    port_ = new QSpinBox(this);
    port_->setObjectName(QStringLiteral("txtPort"));
    port_->setRange(1, 65535);
    port_->setValue(kDefaultAdminPort);
    password_ = new QLineEdit(this);
    password_->setObjectName(QStringLiteral("txtPassword"));
    password_->setEchoMode(QLineEdit::Password);
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("lblProblem"));
    problem_->setStyleSheet(QStringLiteral("color: #b00020;"));
    problem_->setWordWrap(true);
    problem_->hide();
    connect(server_box_, &QComboBox::currentTextChanged, this, &ConnectDialog::onServerTextChanged);
    if (!recent.isEmpty())
        server_box_->setCurrentIndex(0);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Indirizzo del server:"), server_box_);
    form->addRow(QStringLiteral("Porta:"), port_);
    form->addRow(QStringLiteral("Password di amministrazione:"), password_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &ConnectDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ConnectDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(problem_);
    layout->addWidget(buttons);
}

QString ConnectDialog::password() const {
    return password_->text();
}

void ConnectDialog::onServerTextChanged(const QString& text) {
    // A recent server ("host:port", "[::1]:port") brings its port along.
    const QString trimmed = text.trimmed();
    const bool namesPort = trimmed.startsWith(u'[') ? trimmed.contains(QStringLiteral("]:"))
                                                    : trimmed.count(u':') == 1;
    if (!namesPort)
        return;
    if (const std::optional<RemoteServerAddress> parsed = parseRemoteServer(trimmed))
        port_->setValue(parsed->port);
}

void ConnectDialog::accept() {
    QString why;
    const std::optional<RemoteServerAddress> parsed =
        parseRemoteServer(server_box_->currentText(), &why);
    if (!parsed) {
        problem_->setText(server_box_->currentText().trimmed().isEmpty()
                              ? QStringLiteral("Indicare l'indirizzo del server")
                              : why);
        problem_->show();
        return;
    }
    server_ = *parsed;
    server_.port = quint16(port_->value());
    QDialog::accept();
}

} // namespace kv::ui
