#include "program/CliContext.h"

#include "access/WriteTransaction.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kv::cli {

std::optional<QString> closedFolderProblem(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    struct stat info {};
    if (::access(path.constData(), X_OK) == 0 || errno != EACCES ||
        ::stat(path.constData(), &info) != 0)
        return std::nullopt;
    std::vector<char> buffer(16384);
    group groupEntry{};
    group* groupFound = nullptr;
    const QString groupName =
        getgrgid_r(info.st_gid, &groupEntry, buffer.data(), buffer.size(), &groupFound) == 0 &&
                groupFound
            ? QString::fromLocal8Bit(groupFound->gr_name)
            : QString::number(info.st_gid);
    passwd userEntry{};
    passwd* userFound = nullptr;
    const QString userName =
        getpwuid_r(getuid(), &userEntry, buffer.data(), buffer.size(), &userFound) == 0 && userFound
            ? QString::fromLocal8Bit(userFound->pw_name)
            : QStringLiteral("NOME");
    return QStringLiteral("Accesso negato: la cartella dei dati %1 è riservata al gruppo %2. "
                          "Per amministrare il server: sudo adduser %3 %2, poi un nuovo accesso")
        .arg(folder, groupName, userName);
}

std::optional<CliRefusal> writeAll(QSqlDatabase& db,
                                   const QList<std::pair<QString, QVariantList>>& statements) {
    const auto error = access::inWriteTransaction(db, [&]() -> std::optional<QString> {
        for (const auto& [sql, params] : statements) {
            QSqlQuery q(db);
            q.prepare(sql);
            for (const QVariant& p : params)
                q.addBindValue(p);
            if (!q.exec())
                return QStringLiteral("Modifica non salvata: %1").arg(q.lastError().text());
        }
        return std::nullopt;
    });
    if (error)
        return CliRefusal{*error};
    return std::nullopt;
}

QList<QVariantList> readRows(QSqlDatabase& db, const QString& select, const QVariantList& params) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(select);
    for (const QVariant& p : params)
        q.addBindValue(p);
    QList<QVariantList> rows;
    if (!q.exec())
        return rows;
    while (q.next()) {
        QVariantList row;
        for (int i = 0; i < q.record().count(); ++i)
            row << q.value(i);
        rows << row;
    }
    return rows;
}

int refuse(CliContext& c, const QString& message) {
    c.io.err << message << Qt::endl;
    return kRefused;
}

int usage(CliContext& c, const QString& message) {
    c.io.err << message << Qt::endl << QStringLiteral("Vedere: kestrova help") << Qt::endl;
    return kUsage;
}

int done(CliContext& c, const QString& message) {
    if (!message.isEmpty())
        c.io.out << message << Qt::endl;
    return kDone;
}

std::optional<QList<bool>> parseRights(const QString& letters) {
    static const QString order = QStringLiteral("rwdbm");
    QList<bool> rights(5, false);
    for (QChar ch : letters) {
        const qsizetype at = order.indexOf(ch.toLower());
        if (at < 0)
            return std::nullopt;
        rights[at] = true;
    }
    return rights;
}

QString rightsLetters(const QList<bool>& rights) {
    static const QString order = QStringLiteral("rwdbm");
    QString text;
    for (int i = 0; i < 5; ++i)
        text += rights.value(i) ? order[i] : QLatin1Char('-');
    return text;
}

} // namespace kv::cli
