// The administration operations over the running program.
#include "adminchannel/AdminOperations.h"

#include "access/AccountService.h"
#include "access/DataView.h"
#include "adminchannel/AdminAcme.h"
#include "adminchannel/DataOperations.h"
#include "core/ProgramCore.h"
#include "settings/OptionCatalog.h"
#include "sftp/SftpHostKeys.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QJsonArray>
#include <QTimer>
#include <pwd.h>
#include <unistd.h>

namespace kv {

namespace {

const QString kReloadFailed = QStringLiteral("SERVER RELOAD FAILED: ");

QJsonObject failure(const QString& reason) {
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), reason}};
}

QString iso(const QDateTime& when) {
    return when.isValid() ? when.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QJsonValue isoOrNull(const QDateTime& when) {
    return when.isValid() ? QJsonValue(iso(when)) : QJsonValue(QJsonValue::Null);
}

QString tlsModeName(ftp::TlsMode mode) {
    switch (mode) {
    case ftp::TlsMode::On:
        return QStringLiteral("on");
    case ftp::TlsMode::Required:
        return QStringLiteral("required");
    case ftp::TlsMode::Off:
        break;
    }
    return QStringLiteral("off");
}

// An address as the engine reports clients: IPv4 in dotted form.
std::optional<QString> normalAddress(const QString& text) {
    QHostAddress address;
    if (text.contains(u'/') || !address.setAddress(text.trimmed()))
        return std::nullopt;
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped)
        return QHostAddress(v4).toString();
    return address.toString();
}

// A positive whole number from a JSON number or text.
std::optional<qint64> wholeNumber(const QJsonValue& value) {
    bool ok = false;
    qint64 number = -1;
    if (value.isDouble()) {
        const double d = value.toDouble();
        ok = d == double(qint64(d));
        number = qint64(d);
    } else if (value.isString()) {
        number = value.toString().toLongLong(&ok);
    }
    if (!ok || number < 0)
        return std::nullopt;
    return number;
}

// The name of the user this process runs as ("" when it has none).
QString processUser() {
    const passwd* entry = getpwuid(geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString();
}

} // namespace

AdminOperations::AdminOperations(ProgramCore& core, ReloadFn reload, QObject* parent)
    : QObject(parent), core_(core), reload_(std::move(reload)),
      data_(new DataOperations(
          core, [this] { return this->reload(); }, this)) {
    connect(data_, &DataOperations::dataChanged, this, &AdminOperations::dataChanged);
    if (!reload_) {
        reload_ = [this] {
            core_.views().Data2().Refresh(); // the settings row as another program left it
            return core_.server().ServerReload();
        };
    }
    auto& bus = core_.notifications();
    connect(&bus, &events::ServerEvents::logLine, this,
            [this](const events::LogLine& line) { lineLogged(line.line); });
    connect(&bus, &events::ServerEvents::transferStarted, this,
            [this](const events::TransferEvent& t) {
                if (t.kind == events::TransferKind::Listing)
                    return;
                RateSample sample{t.clientPath, t.bytes, {}, t.limitBytesPerSecond};
                sample.since.start();
                rates_.insert(t.session.id, sample);
            });
    connect(&bus, &events::ServerEvents::transferFinished, this,
            [this](const events::TransferEvent& t) {
                if (t.kind != events::TransferKind::Listing)
                    rates_.remove(t.session.id);
            });
    connect(&bus, &events::ServerEvents::sessionClosed, this,
            [this](const events::SessionInfo& s) { rates_.remove(s.id); });
    noteRunning();
}

void AdminOperations::noteRunning() {
    const bool running = core_.server().ServerState() > 0;
    if (running && !startedAt_.isValid()) {
        startedAt_ = QDateTime::currentDateTimeUtc();
    } else if (!running) {
        startedAt_ = {};
        // The start line is logged just before the state changes: look again.
        if (!recheckQueued_) {
            recheckQueued_ = true;
            QTimer::singleShot(0, this, [this] {
                recheckQueued_ = false;
                if (core_.server().ServerState() > 0 && !startedAt_.isValid())
                    startedAt_ = QDateTime::currentDateTimeUtc();
            });
        }
    }
}

void AdminOperations::lineLogged(const QString& line) {
    noteRunning();
    if (reloadReasons_) {
        const qsizetype at = line.indexOf(kReloadFailed);
        if (at >= 0)
            reloadReasons_->append(line.mid(at + kReloadFailed.size()));
    }
}

QJsonObject AdminOperations::answer(const AdminRequest& request) {
    const QString& op = request.op;
    if (op == QLatin1String("status"))
        return status();
    if (op == QLatin1String("sessions"))
        return sessions();
    if (op == QLatin1String("kick"))
        return kick(request.body);
    if (op == QLatin1String("bans"))
        return bans();
    if (op == QLatin1String("ban"))
        return ban(request.body);
    if (op == QLatin1String("unban"))
        return unban(request.body);
    if (op == QLatin1String("reload"))
        return reload();
    if (op == QLatin1String("quota"))
        return quota(request.body);
    if (op == QLatin1String("acme"))
        return acmeAnswer(core_.acmeKeeper(), request.body);
    if (DataOperations::handles(op))
        return data_->answer(request);
    return failure(QStringLiteral("Operazione sconosciuta: %1").arg(op.left(64)));
}

QJsonObject AdminOperations::status() const {
    ftp::FtpEngine& engine = core_.engine();
    const bool running = core_.server().ServerState() > 0;
    const ftp::TlsSettings tls = engine.Tls();
    QJsonObject fingerprints;
    for (const auto& [kind, fingerprint] :
         sftp::existingHostKeyFingerprints(sftp::hostKeyFiles(core_.dataFolder())))
        fingerprints.insert(kind, fingerprint);
    const sftp::SftpServer& sftpServer = core_.sftp().server();
    // The certificate ACME keeps, when it is on.
    const AcmeState acmeState = core_.acmeKeeper().state();
    const QJsonValue acme = acmeState.enabled ? QJsonValue(acmeStateJson(acmeState)) : QJsonValue();
    return {{QStringLiteral("ok"), true},
            {QStringLiteral("running"), running},
            // What the status bar names: for "Default" the PC's main address.
            {QStringLiteral("address"),
             running ? core_.server().shownAddress() : engine.LocalAddress()},
            {QStringLiteral("port"), int(engine.Port())},
            {QStringLiteral("tls"), tlsModeName(tls.mode)},
            {QStringLiteral("implicitPort"), int(tls.enabled() ? tls.implicitPort : 0)},
            {QStringLiteral("startedAt"), running ? isoOrNull(startedAt_) : QJsonValue()},
            // Every protocol's, as `sessions` lists them.
            {QStringLiteral("sessions"), int(core_.connections().size())},
            {QStringLiteral("dataFolder"), core_.dataFolder()},
            {QStringLiteral("sftpPort"), sftpServer.isListening() ? int(sftpServer.port()) : 0},
            {QStringLiteral("sftpFingerprints"), fingerprints},
            // Which program this is, for a window that attaches to it.
            {QStringLiteral("pid"), QCoreApplication::applicationPid()},
            {QStringLiteral("user"), processUser()},
            {QStringLiteral("acme"), acme}};
}

QJsonObject AdminOperations::sessions() {
    QJsonArray list;
    for (const session::ConnectionObject* c : core_.connections()) {
        const session::TransferActivity activity = c->Activity();
        QJsonValue transfer = QJsonValue::Null;
        if (activity.direction != session::TransferActivity::Direction::None) {
            auto sample = rates_.find(c->Id());
            if (sample == rates_.end() || sample->path != activity.path) {
                // Started before anybody watched: the rate counts from now.
                RateSample fresh{activity.path, activity.bytes, {}};
                fresh.since.start();
                sample = rates_.insert(c->Id(), fresh);
            }
            const qint64 ms = sample->since.elapsed();
            const qint64 moved = activity.bytes - sample->bytes;
            const qint64 rate = ms > 0 && moved > 0 ? moved * 1000 / ms : 0;
            const bool upload = activity.direction == session::TransferActivity::Direction::Upload;
            QJsonObject running{{QStringLiteral("direction"),
                                 upload ? QStringLiteral("upload") : QStringLiteral("download")},
                                {QStringLiteral("path"), activity.path},
                                {QStringLiteral("bytes"), activity.bytes},
                                {QStringLiteral("size"), activity.size},
                                {QStringLiteral("rate"), rate}};
            if (sample->limit > 0)
                running.insert(QStringLiteral("limit"), sample->limit);
            transfer = running;
        }
        list.append(QJsonObject{
            {QStringLiteral("id"), qint64(c->Id())},
            {QStringLiteral("login"), c->Grant() ? c->UserName() : QString()},
            {QStringLiteral("address"), c->RemoteHost()},
            {QStringLiteral("since"), isoOrNull(c->ConnectedAt())},
            {QStringLiteral("folder"), c->CurrentFolder()},
            {QStringLiteral("root"), c->Grant() ? c->Grant()->root : QString()},
            {QStringLiteral("rights"), c->Grant() ? c->Grant()->rights.letters() : QString()},
            {QStringLiteral("refused"), c->Grant() ? QString() : c->LoginRefusal()},
            {QStringLiteral("transfer"), transfer},
            // Totals of the session, for a client working out rates.
            {QStringLiteral("sent"), activity.sentTotal},
            {QStringLiteral("received"), activity.receivedTotal}});
    }
    return {{QStringLiteral("ok"), true}, {QStringLiteral("sessions"), list}};
}

QJsonObject AdminOperations::kick(const QJsonObject& body) {
    const auto id = wholeNumber(body.value(QStringLiteral("id")));
    if (!id)
        return failure(QStringLiteral("Numero di sessione non valido"));
    for (session::ConnectionObject* c : core_.connections()) {
        if (c->Id() == quint64(*id)) {
            c->Disconnect();
            return {{QStringLiteral("ok"), true}, {QStringLiteral("id"), *id}};
        }
    }
    return failure(QStringLiteral("Nessuna sessione con numero %1").arg(*id));
}

QJsonObject AdminOperations::bans() const {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QJsonArray list;
    for (const session::BanEntry& entry : core_.loginBans().bans()) {
        list.append(QJsonObject{{QStringLiteral("address"), entry.address},
                                {QStringLiteral("attempts"), entry.attempts},
                                {QStringLiteral("until"), iso(now.addMSecs(entry.msLeft))},
                                {QStringLiteral("secondsLeft"), (entry.msLeft + 999) / 1000}});
    }
    return {{QStringLiteral("ok"), true}, {QStringLiteral("bans"), list}};
}

QJsonObject AdminOperations::ban(const QJsonObject& body) {
    const auto address = normalAddress(body.value(QStringLiteral("address")).toString());
    if (!address)
        return failure(QStringLiteral("Indirizzo non valido: %1")
                           .arg(body.value(QStringLiteral("address")).toString().left(64)));
    qint64 minutes = settings::defaults::kBanMinutes;
    const session::BanRules& rules = core_.loginBans().rules();
    if (rules.on())
        minutes = std::max<qint64>(1, rules.banMs / 60000);
    if (body.contains(QStringLiteral("minutes"))) {
        const auto given = wholeNumber(body.value(QStringLiteral("minutes")));
        constexpr qint64 kYear = 366LL * 24 * 60;
        if (!given || *given < 1 || *given > kYear)
            return failure(QStringLiteral("Minuti non validi: servono da 1 a %1").arg(kYear));
        minutes = *given;
    }
    core_.loginBans().ban(*address, minutes * 60000);
    return {{QStringLiteral("ok"), true},
            {QStringLiteral("address"), *address},
            {QStringLiteral("minutes"), minutes}};
}

QJsonObject AdminOperations::unban(const QJsonObject& body) {
    const QString given = body.value(QStringLiteral("address")).toString();
    const QString address = normalAddress(given).value_or(given);
    if (!core_.loginBans().lift(address))
        return failure(QStringLiteral("L'indirizzo %1 non è bloccato").arg(address.left(64)));
    return {{QStringLiteral("ok"), true}, {QStringLiteral("address"), address}};
}

QJsonObject AdminOperations::reload() {
    if (core_.server().ServerState() == 0)
        return {{QStringLiteral("ok"), true},
                {QStringLiteral("applied"), false},
                {QStringLiteral("reason"), QStringLiteral("Il server non è in funzione")}};
    QStringList reasons;
    reloadReasons_ = &reasons;
    const bool applied = reload_();
    reloadReasons_ = nullptr;
    QJsonObject answer{{QStringLiteral("ok"), true}, {QStringLiteral("applied"), applied}};
    if (!applied)
        answer.insert(QStringLiteral("reason"), reasons.isEmpty()
                                                    ? QStringLiteral("Impostazioni non applicate")
                                                    : reasons.join(QStringLiteral("; ")));
    return answer;
}

QJsonObject AdminOperations::quota(const QJsonObject& body) {
    const QString login = body.value(QStringLiteral("login")).toString();
    const bool scan = body.value(QStringLiteral("scan")).toBool();
    QList<access::QuotaRow> rows = core_.quotaTable().rows(login);
    if (!login.isEmpty() && rows.isEmpty())
        return failure(access::missingAccountMessage(login.left(64)));
    session::QuotaKeeper& keeper = core_.quota();
    QJsonArray accounts;
    for (access::QuotaRow& row : rows) {
        if (!keeper.started()) {
            if (scan) {
                row.used = core_.quotaTable().scanNow(row.account);
                row.counted = true;
            }
        } else {
            if (scan)
                keeper.recount(row.account);
            if (keeper.limited(row.account) || scan) {
                row.used = keeper.used(row.account);
                row.counted = !keeper.counting(row.account);
            }
        }
        row.limits = keeper.limits(row.account);
        accounts.append(row.toJson());
    }
    return {{QStringLiteral("ok"), true}, {QStringLiteral("accounts"), accounts}};
}

} // namespace kv
