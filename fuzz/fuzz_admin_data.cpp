// Whatever an administration client sends as the arguments of "apply" and
// "browse", the server answers with a reason or does what was asked, and
// never crashes: a change set is applied to a new accounts.dat (as a remote
// and as a local administrator) and rolled back, a path is listed (its files
// too when asked). Rules that must hold: a refused set leaves the file as it
// was, a remote client never adds a rule that runs a program, a listing is
// capped, files are listed only when asked and "files" is true, false or absent.

#include "access/AccountSchema.h"
#include "access/WriteTransaction.h"
#include "adminchannel/AdminProtocol.h"
#include "adminchannel/ChangeSet.h"
#include "adminchannel/FolderBrowse.h"
#include "fuzz/FuzzRule.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <cstdint>

namespace {

QSqlDatabase& database() {
    static QSqlDatabase db = [] {
        static int argc = 1;
        static char name[] = "fuzz_admin_data";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
        QSqlDatabase made = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
        made.setDatabaseName(QStringLiteral(":memory:"));
        made.open();
        (void)kv::access::createAccountTables(made);
        QSqlQuery(made).exec(QStringLiteral(
            "INSERT INTO users (ID, login, password, enabled) VALUES (1, 'bob', '', 1)"));
        return made;
    }();
    return db;
}

qint64 count(const QString& sql) {
    QSqlQuery query(database());
    return query.exec(sql) && query.next() ? query.value(0).toLongLong() : -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const kv::AdminParse parse =
        kv::parseAdminRequest(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!parse.request)
        return 0;
    const QJsonObject& body = parse.request->body;
    if (parse.request->op == QLatin1String("browse")) {
        const kv::BrowseArguments arguments = kv::browseArguments(body);
        const QJsonValue files = body.value(QStringLiteral("files"));
        require(arguments.error.isEmpty() == (files.isUndefined() || files.isBool()),
                "files is refused unless true or false");
        if (!arguments.error.isEmpty())
            return 0;
        const QJsonObject answer = kv::browseFolder(arguments.path, arguments.files);
        const QJsonArray folders = answer.value(QStringLiteral("folders")).toArray();
        const QJsonArray listedFiles = answer.value(QStringLiteral("files")).toArray();
        require(folders.size() <= kv::kMaxBrowsedFolders &&
                    listedFiles.size() <= kv::kMaxBrowsedFolders,
                "a listing is capped");
        require(arguments.files || !answer.contains(QStringLiteral("files")),
                "files are listed only when asked");
        require(answer.value(QStringLiteral("ok")).toBool() ||
                    !answer.value(QStringLiteral("error")).toString().isEmpty(),
                "a refusal says why");
        return 0;
    }
    QSqlDatabase& db = database();
    const QJsonArray changes = body.value(QStringLiteral("changes")).toArray();
    for (const bool remote : {true, false}) {
        const kv::ChangeRules rules{body.value(QStringLiteral("wholeDisk")).toBool(), remote,
                                    false};
        const qint64 usersBefore = count(QStringLiteral("SELECT count(*) FROM users"));
        std::optional<QString> outcome;
        qint64 programRules = 0;
        (void)kv::access::inWriteTransaction(db, [&]() -> std::optional<QString> {
            outcome = kv::applyChangeSet(db, changes, rules);
            programRules = count(QStringLiteral("SELECT count(*) FROM actions WHERE kind = 'run' "
                                                "AND enabled"));
            return QStringLiteral("rolled back"); // every input starts from the same file
        });
        require(!outcome || !outcome->isEmpty(), "a refusal says why");
        require(!remote || outcome || programRules == 0,
                "a remote administrator adds no rule that runs a program");
        require(count(QStringLiteral("SELECT count(*) FROM users")) == usersBefore,
                "nothing stays after a rollback");
    }
    return 0;
}
