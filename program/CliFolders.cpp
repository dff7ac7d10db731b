// The virtual-folder subcommand: vdir add, del and list. A new folder is
// judged by access/EntryChecks.h, as the folder editor judges it.
#include "access/EntryChecks.h"
#include "program/CliContext.h"
#include "program/CliOutput.h"

#include <QDir>
#include <QFileInfo>

namespace kv::cli {

namespace {

struct Owner {
    int id = -1; // 0: the anonymous account
};

std::optional<Owner> findOwner(CliContext& c, const QString& name) {
    if (name.compare(QLatin1String("anonymous"), Qt::CaseInsensitive) == 0)
        return Owner{0};
    const auto rows =
        readRows(c.db, QStringLiteral("SELECT ID FROM users WHERE login = ?"), {name});
    if (rows.isEmpty())
        return std::nullopt;
    return Owner{rows.first().first().toInt()};
}

// A relative folder on a command line is the shell's: below its working folder.
QString absoluteFolder(const QString& folder) {
    if (folder.isEmpty() || QDir::isAbsolutePath(folder))
        return folder;
    return QFileInfo(folder).absoluteFilePath();
}

int add(CliContext& c, const QString& ownerName, const QString& name, const QString& destination) {
    const auto owner = findOwner(c, ownerName);
    if (!owner)
        return refuse(c, QStringLiteral("L'account \"%1\" non esiste").arg(ownerName));
    const access::VirtualDirEntry entry{
        name, absoluteFolder(c.args.value(QStringLiteral("source"))), absoluteFolder(destination)};
    if (const auto problem = access::virtualDirProblem(c.db, owner->id, entry))
        return refuse(c, *problem);
    const QString source = entry.position.isEmpty() ? QString() : QDir::cleanPath(entry.position);
    const QString real = QDir::cleanPath(entry.destination);
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
