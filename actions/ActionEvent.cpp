#include "actions/ActionEvent.h"

namespace kv::actions {

namespace {

ActionEvent base(const QString& name, const events::SessionInfo& session, const QDateTime& now) {
    ActionEvent event;
    event.name = name;
    event.user = session.login;
    event.address = session.address;
    event.time = now.toUTC();
    event.protocol = events::protocolName(session.protocol);
    return event;
}

} // namespace

std::optional<ActionEvent> fromTransfer(const events::TransferEvent& transfer,
                                        const QDateTime& now) {
    if (transfer.outcome != events::TransferOutcome::Complete)
        return std::nullopt;
    QString name;
    switch (transfer.kind) {
    case events::TransferKind::Upload:
        name = QStringLiteral("upload");
        break;
    case events::TransferKind::Download:
        name = QStringLiteral("download");
        break;
    case events::TransferKind::Listing:
        return std::nullopt;
    }
    ActionEvent event = base(name, transfer.session, now);
    event.clientPath = transfer.clientPath;
    event.diskPath = transfer.diskPath;
    // An upload names the file as it now is, also when it only added to it.
    event.size = transfer.kind == events::TransferKind::Upload && transfer.fileSize >= 0
                     ? transfer.fileSize
                     : transfer.bytes;
    return event;
}

std::optional<ActionEvent> fromFileChange(const events::FileEvent& change, const QDateTime& now) {
    switch (change.change) {
    case events::FileChange::Deleted: {
        ActionEvent event = base(QStringLiteral("delete"), change.session, now);
        event.clientPath = change.clientPath;
        event.diskPath = change.diskPath;
        return event;
    }
    case events::FileChange::Renamed: {
        ActionEvent event = base(QStringLiteral("rename"), change.session, now);
        event.clientPath = change.newClientPath;
        event.diskPath = change.newDiskPath;
        return event;
    }
    case events::FileChange::FolderMade: {
        ActionEvent event = base(QStringLiteral("mkdir"), change.session, now);
        event.clientPath = change.clientPath;
        event.diskPath = change.diskPath;
        return event;
    }
    case events::FileChange::FolderRemoved:
        break;
    }
    return std::nullopt;
}

ActionEvent fromLoginFailure(const events::LoginFailure& failure, const QDateTime& now) {
    ActionEvent event = base(QStringLiteral("login-failed"), failure.session, now);
    event.user = failure.login;
    return event;
}

ActionEvent fromBan(const events::AddressBan& ban, const QDateTime& now) {
    ActionEvent event;
    event.name = QStringLiteral("ban");
    event.address = ban.address;
    event.time = now.toUTC();
    return event;
}

namespace {

ActionEvent accountEvent(const QString& name, const events::AccountNotice& notice,
                         const QDateTime& now) {
    ActionEvent event;
    event.name = name;
    event.user = notice.login;
    event.detail = notice.detail;
    event.time = now.toUTC();
    return event;
}

} // namespace

ActionEvent fromQuotaWarning(const events::AccountNotice& notice, const QDateTime& now) {
    return accountEvent(QStringLiteral("quota-warning"), notice, now);
}

ActionEvent fromAccountExpired(const events::AccountNotice& notice, const QDateTime& now) {
    return accountEvent(QStringLiteral("account-expired"), notice, now);
}

ActionEvent fromAdminLogin(const QString& address, const QDateTime& now) {
    ActionEvent event;
    event.name = QStringLiteral("admin-login");
    event.address = address;
    event.protocol = QStringLiteral("admin");
    event.detail = QStringLiteral("Accesso all'amministrazione remota da %1").arg(address);
    event.time = now.toUTC();
    return event;
}

ActionEvent fromCertificate(bool failed, const QString& detail, const QDateTime& now) {
    ActionEvent event;
    event.name =
        failed ? QStringLiteral("certificate-failed") : QStringLiteral("certificate-renewed");
    event.protocol = QStringLiteral("ftps");
    event.detail = detail;
    event.time = now.toUTC();
    return event;
}

QString isoUtc(const QDateTime& time) {
    return time.toUTC().toString(Qt::ISODate);
}

QProcessEnvironment actionEnvironment(const ActionEvent& event, QProcessEnvironment env) {
    env.insert(QStringLiteral("KV_EVENT"), event.name);
    env.insert(QStringLiteral("KV_USER"), event.user);
    env.insert(QStringLiteral("KV_ADDRESS"), event.address);
    env.insert(QStringLiteral("KV_PATH"), event.clientPath);
    env.insert(QStringLiteral("KV_FILE"), event.diskPath);
    env.insert(QStringLiteral("KV_SIZE"),
               event.size >= 0 ? QString::number(event.size) : QString());
    env.insert(QStringLiteral("KV_TIME"), isoUtc(event.time));
    env.insert(QStringLiteral("KV_PROTOCOL"), event.protocol);
    env.insert(QStringLiteral("KV_DETAIL"), event.detail);
    return env;
}

} // namespace kv::actions
