#include "access/AccountDatabase.h"

#include "access/AccountSchema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QTemporaryFile>

namespace kv::access {

namespace {

const QString kDriver = QStringLiteral("QSQLITE");

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

// Checks the file through a read-only connection of its own, so a file that
// turns out not to be ours is never written to.
std::optional<QString> checkReadOnly(const QString& path, const QString& connectionName) {
    std::optional<QString> problem;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(kDriver, connectionName);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        db.setDatabaseName(path);
        if (!db.open())
            problem =
                QStringLiteral("il file non può essere aperto (%1).").arg(db.lastError().text());
        else
            problem = checkAccountTables(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(connectionName);
    return problem;
}

} // namespace

AccountDatabase::AccountDatabase(const QString& filePath)
    : filePath_(QFileInfo(filePath).absoluteFilePath()), connectionName_(nextConnectionName()) {
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
    problem_.clear();
    useEmptyConnection();

    const QFileInfo info(filePath_);
    // A dangling link also counts as present: never create a file through it.
    if (!info.exists() && !info.isSymLink()) {
        if (auto problem = createFile()) {
            problem_ = *problem;
            return false;
        }
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
    if (auto problem = checkReadOnly(filePath_, connectionName_ + QStringLiteral("_check"))) {
        problem_ = cannotOpen(filePath_, *problem);
        return false;
    }

    // SQLite writes a journal next to the file, so the folder must be writable too.
    const bool writable = file.isWritable() && QFileInfo(file.absolutePath()).isWritable();
    QSqlDatabase db = connection();
    db.close();
    db.setConnectOptions(writable ? QString() : QStringLiteral("QSQLITE_OPEN_READONLY"));
    db.setDatabaseName(filePath_);
    if (!db.open()) {
        problem_ = cannotOpen(
            filePath_,
            QStringLiteral("il file non può essere aperto (%1).").arg(db.lastError().text()));
        useEmptyConnection();
        return false;
    }
    if (!writable) {
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
    temporary.close();

    std::optional<QString> failure;
    const QString buildName = connectionName_ + QStringLiteral("_create");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(kDriver, buildName);
        db.setDatabaseName(temporaryPath);
        if (!db.open())
            failure = db.lastError().text();
        else
            failure = createAccountTables(db);
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

AccountViews::AccountViews(const AccountDatabase& db, QObject* parent) : QObject(parent) {
    const QSqlDatabase connection = db.connection();
    data1_ = std::make_unique<DataView>(connection, QStringLiteral("users"));
    data2_ = std::make_unique<DataView>(connection, QStringLiteral("settings"));
    data3_ = std::make_unique<DataView>(connection, QStringLiteral("anonymous"));
    dataIP_[0] = std::make_unique<DataView>(connection, QStringLiteral("IPok"));
    dataIP_[1] = std::make_unique<DataView>(connection, QStringLiteral("IPko"));
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
}

} // namespace kv::access
