// The virtual-folder subcommand: vdir add, del and list.
#include "program/CliContext.h"
#include "program/CliOutput.h"

#include <QDir>
#include <QFileInfo>

namespace kv::cli {

namespace {

struct Owner {
    int id = -1; // 0: the anonymous account
    QString root;
};

QString serverRoot(CliContext& c) {
    const auto rows = readRows(c.db, QStringLiteral("SELECT rootdir FROM settings"));
    return rows.isEmpty() ? QString() : rows.first().first().toString();
}

std::optional<Owner> findOwner(CliContext& c, const QString& name) {
    QList<QVariantList> rows;
    Owner owner;
    if (name.compare(QLatin1String("anonymous"), Qt::CaseInsensitive) == 0) {
        owner.id = 0;
        rows = readRows(c.db, QStringLiteral("SELECT rootdir FROM anonymous"));
    } else {
        rows =
            readRows(c.db, QStringLiteral("SELECT rootdir, ID FROM users WHERE login = ?"), {name});
        if (rows.isEmpty())
            return std::nullopt;
        owner.id = rows.first().value(1).toInt();
    }
    owner.root = rows.isEmpty() ? QString() : rows.first().first().toString();
    if (owner.root.isEmpty())
        owner.root = serverRoot(c);
    return owner;
}

bool isInside(const QString& path, const QString& root) {
    const QString p = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QString r = QDir::cleanPath(QFileInfo(root).absoluteFilePath());
    return p == r || p.startsWith(r.endsWith(QLatin1Char('/')) ? r : r + QLatin1Char('/'));
}

bool isFolderName(const QString& name) {
    const QString n = name.trimmed();
    return !n.isEmpty() && n != QLatin1String(".") && n != QLatin1String("..") &&
           !n.contains(QLatin1Char('/')) && !n.contains(QLatin1Char('\\'));
}

int add(CliContext& c, const QString& ownerName, const QString& name, const QString& destination) {
    const auto owner = findOwner(c, ownerName);
    if (!owner)
        return refuse(c, QStringLiteral("L'account \"%1\" non esiste").arg(ownerName));
    if (!isFolderName(name))
        return refuse(c, QStringLiteral("Nome di cartella virtuale non valido: \"%1\"").arg(name));
    if (!QFileInfo(destination).isDir())
        return refuse(c, QStringLiteral("La cartella \"%1\" non esiste").arg(destination));
    QString source = c.args.value(QStringLiteral("source"));
    if (!source.isEmpty()) {
        if (owner->root.isEmpty() || !isInside(source, owner->root))
            return refuse(
                c, QStringLiteral("La cartella \"%1\" non è dentro la cartella principale \"%2\"")
                       .arg(source, owner->root));
        source = QDir::cleanPath(QFileInfo(source).absoluteFilePath());
    }
    if (!readRows(c.db,
                  QStringLiteral("SELECT rowid FROM virtualdirs WHERE user = ? AND name = ? AND "
                                 "IFNULL(source, '') = ?"),
                  {owner->id, name.trimmed(), source})
             .isEmpty())
        return refuse(c,
                      QStringLiteral("La cartella virtuale \"%1\" esiste già").arg(name.trimmed()));
    const QString real = QDir::cleanPath(QFileInfo(destination).absoluteFilePath());
    if (const auto refusal = writeAll(
            c.db,
            {{QStringLiteral(
                  "INSERT INTO virtualdirs (name, source, destination, user) VALUES (?, ?, ?, ?)"),
              {name.trimmed(), source, real, owner->id}}}))
        return refuse(c, refusal->message);
    return done(c, QStringLiteral("Cartella virtuale \"%1\" aggiunta").arg(name.trimmed()));
}

int del(CliContext& c, const QString& ownerName, const QString& name) {
    const auto owner = findOwner(c, ownerName);
    if (!owner)
        return refuse(c, QStringLiteral("L'account \"%1\" non esiste").arg(ownerName));
    const auto rows =
        readRows(c.db, QStringLiteral("SELECT rowid FROM virtualdirs WHERE user = ? AND name = ?"),
                 {owner->id, name.trimmed()});
    if (rows.isEmpty())
        return refuse(c, QStringLiteral("La cartella virtuale \"%1\" non esiste").arg(name));
    if (const auto refusal = writeAll(
            c.db,
            {{QStringLiteral("DELETE FROM virtualdirs WHERE rowid = ?"), {rows.first().first()}}}))
        return refuse(c, refusal->message);
    return done(c, QStringLiteral("Cartella virtuale \"%1\" eliminata").arg(name.trimmed()));
}

int list(CliContext& c, const QString& ownerName) {
    QString select = QStringLiteral("SELECT CASE WHEN v.user = 0 THEN 'anonymous' ELSE u.login "
                                    "END, v.name, v.source, v.destination "
                                    "FROM virtualdirs v LEFT JOIN users u ON u.ID = v.user");
    QVariantList params;
    if (!ownerName.isEmpty()) {
        const auto owner = findOwner(c, ownerName);
        if (!owner)
            return refuse(c, QStringLiteral("L'account \"%1\" non esiste").arg(ownerName));
        select += QStringLiteral(" WHERE v.user = ?");
        params << owner->id;
    }
    CliTable table{{QStringLiteral("proprietario"), QStringLiteral("nome"),
                    QStringLiteral("origine"), QStringLiteral("destinazione")},
                   {}};
    for (const QVariantList& r : readRows(c.db, select + QStringLiteral(" ORDER BY 1, 2"), params))
        table.rows << QStringList{r[0].toString(), r[1].toString(), r[2].toString(),
                                  r[3].toString()};
    printTable(c.io.out, table, c.json());
    return kDone;
}

} // namespace

int vdirCommand(CliContext& c) {
    c.args = readArguments(c.args.words, {QStringLiteral("source")}, {QStringLiteral("json")});
    if (!c.args.error.isEmpty())
        return usage(c, c.args.error);
    const QStringList& w = c.args.words;
    const QString action = w.value(0);
    if (action == QLatin1String("add") && w.size() == 4)
        return add(c, w[1], w[2], w[3]);
    if (action == QLatin1String("del") && w.size() == 3)
        return del(c, w[1], w[2]);
    if (action == QLatin1String("list") && w.size() <= 2)
        return list(c, w.value(1));
    return usage(c,
                 QStringLiteral("Uso: kestrova vdir add PROPRIETARIO NOME DESTINAZIONE [--source "
                                "CARTELLA], vdir del PROPRIETARIO NOME, vdir list [PROPRIETARIO]"));
}

} // namespace kv::cli
