// quota show and quota scan: each account's quota as used. With a server
// running on the folder its keeper answers (the tallies as they are this
// moment, and the count made on its event loop); otherwise accounts.dat does.
#include "access/AccountLimitsTable.h"
#include "access/AccountService.h"
#include "access/EntryChecks.h"
#include "access/QuotaTable.h"
#include "adminchannel/AdminClient.h"
#include "adminchannel/AdminPlace.h"
#include "program/CliContext.h"
#include "program/CliOutput.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QThread>

namespace kv::cli {

namespace {

// How long `quota scan` waits for a running server's counts.
constexpr int kScanWaitMs = 120'000;

QString sizeText(qint64 bytes) {
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

// The server's answer to "quota", or nullopt when no server runs there;
// a `connected` client is a remote server's.
std::optional<QJsonObject> askServer(AdminClient& client, bool connected, const QString& folder,
                                     const QJsonObject& request, QString& error) {
    if (!connected &&
        client.connectTo(adminSocketToConnect(folder)) != AdminClient::Connect::Connected)
        return std::nullopt;
    const auto answer = client.request(request);
    if (!answer)
        error = client.error();
    else if (!answer->value(QStringLiteral("ok")).toBool())
        error = answer->value(QStringLiteral("error")).toString();
    return answer.value_or(QJsonObject{});
}

bool allCounted(const QJsonArray& accounts) {
    for (const QJsonValue& a : accounts)
        if (!a.toObject().value(QStringLiteral("counted")).toBool())
            return false;
    return true;
}

int print(CliContext& c, const QJsonArray& accounts) {
    if (c.json()) {
        c.io.out << QJsonDocument(accounts).toJson(QJsonDocument::Indented);
        return kDone;
    }
    CliTable table{{QStringLiteral("account"), QStringLiteral("spazio usato"),
                    QStringLiteral("file"), QStringLiteral("quota"), QStringLiteral("quota file"),
                    QStringLiteral("uso")},
                   {}};
    for (const QJsonValue& value : accounts) {
        const QJsonObject a = value.toObject();
        const qint64 quota = qint64(a.value(QStringLiteral("quotaBytes")).toDouble());
        const qint64 files = qint64(a.value(QStringLiteral("quotaFiles")).toDouble());
        const bool counted = a.value(QStringLiteral("counted")).toBool();
        table.rows << QStringList{
            a.value(QStringLiteral("login")).toString(),
            counted ? sizeText(qint64(a.value(QStringLiteral("bytesUsed")).toDouble()))
                    : QStringLiteral("da contare"),
            counted ? QString::number(qint64(a.value(QStringLiteral("filesUsed")).toDouble()))
                    : QStringLiteral("-"),
            quota > 0 ? sizeText(quota) : QStringLiteral("nessuna"),
            files > 0 ? QString::number(files) : QStringLiteral("nessuna"),
            quota > 0 || files > 0
                ? QStringLiteral("%1%").arg(a.value(QStringLiteral("percent")).toDouble())
                : QStringLiteral("-")};
    }
    printTable(c.io.out, table, false);
    return kDone;
}

} // namespace

int quotaCommand(CliContext& c) {
    c.args = readArguments(c.args.words, {}, {QStringLiteral("json")});
    if (!c.args.error.isEmpty())
        return usage(c, c.args.error);
    const QStringList& w = c.args.words;
    const QString action = w.value(0);
    if ((action != QLatin1String("show") && action != QLatin1String("scan")) || w.size() > 2)
        return usage(c, QStringLiteral("Uso: kestrova quota show [NOME] [--json] | quota scan "
                                       "[NOME]"));
    const bool scan = action == QLatin1String("scan");
    const QString login = w.value(1);
    QJsonObject request{{QStringLiteral("op"), QStringLiteral("quota")}};
    if (!login.isEmpty())
        request.insert(QStringLiteral("login"), login);
    request.insert(QStringLiteral("scan"), scan);
    AdminClient local;
    AdminClient& client = c.remote ? *c.remote : local;
    QString error;
    if (auto answer = askServer(client, c.remote != nullptr, c.dataFolder, request, error)) {
        if (!error.isEmpty())
            return refuse(c, error);
        QJsonArray accounts = answer->value(QStringLiteral("accounts")).toArray();
        // The server counts on its own loop: asked again until it is done.
        request.insert(QStringLiteral("scan"), false);
        const QDeadlineTimer deadline(kScanWaitMs);
        while (scan && !allCounted(accounts) && !deadline.hasExpired()) {
            QThread::msleep(100);
            const auto again = client.request(request);
            if (!again || !again->value(QStringLiteral("ok")).toBool())
                return refuse(c, again ? again->value(QStringLiteral("error")).toString()
                                       : client.error());
            accounts = again->value(QStringLiteral("accounts")).toArray();
        }
        return print(c, accounts);
    }
    access::QuotaTable table(c.db, [&c] { return access::ownerRoot(c.db, -1); });
    QList<access::QuotaRow> rows = table.rows(login);
    if (!login.isEmpty() && rows.isEmpty())
        return refuse(c, access::missingAccountMessage(login));
    const access::AccountLimitsTable limits(c.db);
    QJsonArray accounts;
    for (access::QuotaRow& row : rows) {
        row.limits = limits.read(row.account);
        if (scan) {
            row.used = table.scanNow(row.account);
            row.counted = true;
        }
        accounts.append(row.toJson());
    }
    if (!table.problem().isEmpty())
        return refuse(c, table.problem());
    return print(c, accounts);
}

} // namespace kv::cli
