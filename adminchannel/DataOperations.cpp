// The operations on the administered tables of accounts.dat.
#include "adminchannel/DataOperations.h"

#include "access/MirrorDatabase.h"
#include "access/SettingsService.h"
#include "access/TableRows.h"
#include "access/WriteTransaction.h"
#include "adminchannel/ChangeSet.h"
#include "adminchannel/FolderBrowse.h"
#include "core/ProgramCore.h"
#include "core/ReloadWatch.h"
#include "settings/OptionCatalog.h"

#include <QJsonArray>
#include <QSqlQuery>

namespace kv {

namespace {

QJsonObject failure(const QString& reason) {
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), reason}};
}

QJsonObject tableSnapshot(const QSqlDatabase& db, const QString& table) {
    const QStringList columns = access::tableColumns(db, table);
    QJsonArray rows;
    QStringList quoted{QStringLiteral("rowid")};
    for (const QString& column : columns)
        quoted << access::quotedName(column);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    // A table the file lacks (made with its first row) comes empty.
    if (!columns.isEmpty() && query.exec(QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid")
                                             .arg(quoted.join(u','), access::quotedName(table)))) {
        while (query.next()) {
            QJsonObject row;
            for (int i = 0; i < columns.size(); ++i)
                row.insert(columns[i], access::jsonOfValue(query.value(i + 1)));
            row = access::maskedRow(table, row);
            QJsonArray values{query.value(0).toLongLong()};
            for (const QString& column : columns)
                values.append(row.value(column));
            rows.append(values);
        }
    }
    return {{QStringLiteral("columns"), QJsonArray::fromStringList(columns)},
            {QStringLiteral("rows"), rows}};
}

} // namespace

DataOperations::DataOperations(ProgramCore& core, ReloadFn reload, QObject* parent)
    : QObject(parent), core_(core), reload_(std::move(reload)) {}

bool DataOperations::handles(const QString& op) {
    return op == QLatin1String("snapshot") || op == QLatin1String("apply") ||
           op == QLatin1String("browse");
}

QJsonObject DataOperations::answer(const AdminRequest& request) {
    if (request.op == QLatin1String("snapshot"))
        return snapshot();
    if (request.op == QLatin1String("apply"))
        return apply(request.body, request.remote);
    return browse(request.body);
}

QJsonObject DataOperations::snapshot() const {
    const QSqlDatabase db = core_.database().connection();
    QJsonObject tables;
    for (const QString& table : access::mirroredTables())
        tables.insert(table, tableSnapshot(db, table));
    return {{QStringLiteral("ok"), true}, {QStringLiteral("tables"), tables}};
}

QJsonObject DataOperations::apply(const QJsonObject& body, bool remote) {
    const QJsonValue changes = body.value(QStringLiteral("changes"));
    if (!changes.isArray())
        return failure(QStringLiteral("Richiesta non valida: mancano le modifiche (changes)"));
    QSqlDatabase db = core_.database().connection();
    access::SettingsService service(db);
    // A missing row keeps the default, 0: no rules that run a program from afar.
    const ChangeRules rules{body.value(QStringLiteral("wholeDisk")).toBool(), remote,
                            service.options().value(settings::option::kAdminRemoteActions) ==
                                QLatin1String("1")};
    ReloadWatch watch(db);
    watch.rebase();
    if (const auto refusal = access::inWriteTransaction(
            db, [&] { return applyChangeSet(db, changes.toArray(), rules); }))
        return failure(*refusal);
    QJsonObject answer{{QStringLiteral("ok"), true}, {QStringLiteral("reloaded"), false}};
    // As the window's own edits: a reread only when what one reads changed.
    if (watch.reloadNeeded() && core_.server().ServerState() > 0 && reload_) {
        const QJsonObject reload = reload_();
        const bool applied = reload.value(QStringLiteral("applied")).toBool();
        answer.insert(QStringLiteral("reloaded"), applied);
        if (!applied)
            answer.insert(QStringLiteral("reloadError"),
                          reload.value(QStringLiteral("reason")).toString());
    }
    Q_EMIT dataChanged();
    return answer;
}

QJsonObject DataOperations::browse(const QJsonObject& body) const {
    BrowseArguments arguments = browseArguments(body);
    if (!arguments.error.isEmpty())
        return failure(arguments.error);
    if (arguments.path.isEmpty()) // the default root
        arguments.path = access::SettingsService(core_.database().connection())
                             .setting(settings::setting::kRootDir);
    return browseFolder(arguments.path.isEmpty() ? QStringLiteral("/") : arguments.path,
                        arguments.files);
}

} // namespace kv
