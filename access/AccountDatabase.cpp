#include "access/AccountDatabase.h"

#include "access/AccountSchema.h"
#include "access/DataFileMode.h"
#include "settings/OptionCatalog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryFile>
#include <sys/stat.h>

namespace kv::access {

namespace {

const QString kDriver = QStringLiteral("QSQLITE");
constexpr int kSqliteReadOnly = 8; // SQLITE_READONLY, with its extended variants
QString busyWait(int ms) {
    return QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(ms);
}

QString readOnlyBusyWait(int ms) {
    return QStringLiteral("QSQLITE_OPEN_READONLY;") + busyWait(ms);
}

QString nextConnectionName() {
    static int counter = 0; // one GUI thread: a plain counter keeps names unique
    return QStringLiteral("kv_accounts_%1").arg(++counter);
}

QString cannotOpen(const QString& path, const QString& reason) {
    return QStringLiteral("Impossibile aprire il database degli account %1: %2")
        .arg(QDir::toNativeSeparators(path), reason);
}

QString cannotCreate(const QString& path, const QString& reason) {
    return QStringLiteral("Impossibile creare il database degli account %1: %2")
        .arg(QDir::toNativeSeparators(path), reason);
}

struct CheckResult {
    std::optional<QString> problem;
    // The file could not be read without writing to it: an interrupted write
    // left a journal that must be rolled back first.
    bool needsRollback = false;
};

// Checks the file through a read-only connection of its own, so a file that
// turns out not to be ours is never written to.
CheckResult checkReadOnly(const QString& path, const QString& connectionName, int busyMs) {
    CheckResult result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(kDriver, connectionName);
        db.setConnectOptions(readOnlyBusyWait(busyMs));
        db.setDatabaseName(path);
        if (!db.open()) {
            result.problem =
                QStringLiteral("il file non può essere aperto (%1).").arg(db.lastError().text());
        } else {
            QSqlQuery probe(db);
            if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
                const int code = probe.lastError().nativeErrorCode().toInt();
                result.needsRollback = (code & 0xff) == kSqliteReadOnly;
            }
            probe.finish();
            result.problem = checkAccountTables(db);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connectionName);
    return result;
}

// One read through a writable connection lets SQLite restore the last
// committed state from the journal of an interrupted write.
void rollBackInterruptedWrite(const QString& path, const QString& connectionName, int busyMs) {
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(kDriver, connectionName);
        db.setConnectOptions(busyWait(busyMs));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(db);
            query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connectionName);
}

} // namespace

AccountDatabase::AccountDatabase(const QString& filePath, int busyWaitMs,
                                 NewDatabaseValues newValues)
    : filePath_(QFileInfo(filePath).absoluteFilePath()), connectionName_(nextConnectionName()),
      busyWaitMs_(busyWaitMs), newValues_(std::move(newValues)) {
    QSqlDatabase::addDatabase(kDriver, connectionName_);
    useEmptyConnection();
}

AccountDatabase::~AccountDatabase() {
    {
        QSqlDatabase db = QSqlDatabase::database(connectionName_, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connectionName_);
}

QSqlDatabase AccountDatabase::connection() const {
    return QSqlDatabase::database(connectionName_, false);
}

bool AccountDatabase::isOpen() const {
    return open_;
}

void AccountDatabase::useEmptyConnection() {
    QSqlDatabase db = connection();
    db.close();
    db.setConnectOptions();
    db.setDatabaseName(QStringLiteral(":memory:"));
    db.open();
}

bool AccountDatabase::open() {
    open_ = false;
    readOnly_ = false;
    created_ = false;
    problem_.clear();
    useEmptyConnection();

    const QFileInfo info(filePath_);
    // A dangling link also counts as present: never create a file through it.
    if (!info.exists() && !info.isSymLink()) {
        if (auto problem = createFile()) {
            problem_ = *problem;
            return false;
        }
        created_ = true;
    }

    const QFileInfo file(filePath_);
    if (file.isDir()) {
        problem_ = cannotOpen(filePath_, QStringLiteral("il percorso indica una cartella."));
        return false;
    }
    if (!file.exists() || !file.isReadable()) {
        problem_ = cannotOpen(filePath_, QStringLiteral("il file non è leggibile."));
        return false;
    }
    // SQLite writes a journal next to the file, so the folder must be writable too.
    const bool writable = file.isWritable() && QFileInfo(file.absolutePath()).isWritable();
    const QString checkName = connectionName_ + QStringLiteral("_check");
    CheckResult check = checkReadOnly(filePath_, checkName, busyWaitMs_);
    if (check.problem && check.needsRollback && writable &&
        QFileInfo::exists(filePath_ + QStringLiteral("-journal"))) {
        // A crash during a save: recover the file as SQLite does, then check again.
        rollBackInterruptedWrite(filePath_, connectionName_ + QStringLiteral("_recover"),
                                 busyWaitMs_);
        check = checkReadOnly(filePath_, checkName, busyWaitMs_);
    }
    if (check.problem) {
        problem_ = cannotOpen(filePath_, *check.problem);
        return false;
    }
    QSqlDatabase db = connection();
    db.close();
    db.setConnectOptions(writable ? busyWait(busyWaitMs_) : readOnlyBusyWait(busyWaitMs_));
    db.setDatabaseName(filePath_);
    if (!db.open()) {
        problem_ = cannotOpen(
            filePath_,
            QStringLiteral("il file non può essere aperto (%1).").arg(db.lastError().text()));
        useEmptyConnection();
        return false;
    }
    if (writable) {
        // An older file gains the options table; when that fails (the file is
        // locked) it stays as it was and every option reads as its default.
        (void)OptionsTable::ensureTable(db);
        // Its action rules gain the triggers that keep them with their
        // account, so a rename by any program carries them.
        (void)ensureActionTriggers(db);
    } else {
        readOnly_ = true;
        problem_ = QStringLiteral("Il database degli account %1 è in sola lettura: le modifiche "
                                  "non verranno salvate.")
                       .arg(QDir::toNativeSeparators(filePath_));
    }
    open_ = true;
    return true;
}

std::optional<QString> AccountDatabase::createFile() {
    const QFileInfo info(filePath_);
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir())
        return cannotCreate(filePath_, QStringLiteral("la cartella non esiste."));
    if (!folder.isWritable())
        return cannotCreate(filePath_, QStringLiteral("la cartella non è scrivibile."));

    // Build the whole file under a temporary name, then give it its name in one
    // step: a crash leaves at most a stray temporary file, never a half-made database.
    QTemporaryFile temporary(filePath_ + QStringLiteral(".XXXXXX.tmp"));
    temporary.setAutoRemove(false);
    if (!temporary.open())
        return cannotCreate(filePath_, temporary.errorString() + QLatin1Char('.'));
    const QString temporaryPath = temporary.fileName();
    // It holds the password hashes: see dataFileMode.
    ::chmod(QFile::encodeName(temporaryPath).constData(), dataFileMode(info.absolutePath()));
    temporary.close();

    std::optional<QString> failure;
    const QString buildName = connectionName_ + QStringLiteral("_create");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(kDriver, buildName);
        db.setDatabaseName(temporaryPath);
        if (!db.open())
            failure = db.lastError().text();
        else
            failure = createAccountTables(db, settings::optionCatalog(), newValues_);
        db.close();
    }
    QSqlDatabase::removeDatabase(buildName);

    if (!failure && !QFile::rename(temporaryPath, filePath_)) {
        // Someone else may have created the file meanwhile: then it is checked
        // like any existing file, and ours is dropped.
        if (!QFileInfo::exists(filePath_))
            failure = QStringLiteral("il file non può essere rinominato");
    }
    QFile::remove(temporaryPath);
    QFile::remove(temporaryPath + QStringLiteral("-journal"));
    if (failure)
        return cannotCreate(filePath_, *failure + QLatin1Char('.'));
    return std::nullopt;
}

AccountViews::AccountViews(const AccountDatabase& db, QObject* parent)
    : QObject(parent), options_(db.connection()) {
    const QSqlDatabase connection = db.connection();
    data1_ = std::make_unique<DataView>(connection, QStringLiteral("users"));
    data2_ = std::make_unique<DataView>(connection, QStringLiteral("settings"));
    data3_ = std::make_unique<DataView>(connection, QStringLiteral("anonymous"));
    dataIP_[0] = std::make_unique<DataView>(connection, settings::setting::kIpOk);
    dataIP_[1] = std::make_unique<DataView>(connection, settings::setting::kIpKo);
}

void AccountViews::openAll() {
    for (DataView* view :
         {data1_.get(), data2_.get(), data3_.get(), dataIP_[0].get(), dataIP_[1].get()})
        view->Refresh();
    for (DataView* view : {data1_.get(), dataIP_[0].get(), dataIP_[1].get()}) {
        view->MoveLast();
        view->MoveFirst();
    }
}

void AccountViews::commitAll() {
    for (DataView* view :
         {data1_.get(), data2_.get(), data3_.get(), dataIP_[0].get(), dataIP_[1].get()}) {
        if (view->Edit())
            view->Update();
    }
    (void)options_.commit();
}

} // namespace kv::access
