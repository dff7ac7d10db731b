#include "program/CliContext.h"

#include "access/WriteTransaction.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace kv::cli {

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
