// The virtual-folder subcommand: vdir add, del and list, through the
// virtual folder service, which judges a new folder as the folder editor does.
#include "access/AccountService.h"
#include "access/VirtualDirService.h"
#include "program/CliContext.h"
#include "program/CliOutput.h"

#include <QDir>
#include <algorithm>

namespace kv::cli {

namespace {

int missingOwner(CliContext& c, const QString& ownerName) {
    return refuse(c, access::missingAccountMessage(ownerName));
}

int add(CliContext& c, const QString& ownerName, const QString& name, const QString& destination) {
    access::VirtualDirService folders(c.db);
    const auto owner = folders.ownerOf(ownerName);
    if (!owner)
        return missingOwner(c, ownerName);
    access::VirtualDirEntry entry{name, absoluteFolder(c.args.value(QStringLiteral("source"))),
                                  absoluteFolder(destination)};
    if (const auto problem = access::virtualDirProblem(c.db, *owner, entry))
        return refuse(c, *problem);
    // Stored in their clean form.
    entry.name = name.trimmed();
    entry.position = entry.position.isEmpty() ? QString() : QDir::cleanPath(entry.position);
    entry.destination = QDir::cleanPath(entry.destination);
    const auto added = folders.add(*owner, entry);
    if (const QString* refusal = std::get_if<QString>(&added))
        return refuse(c, *refusal);
    return done(c, QStringLiteral("Cartella virtuale \"%1\" aggiunta").arg(entry.name));
}

int del(CliContext& c, const QString& ownerName, const QString& name) {
    access::VirtualDirService folders(c.db);
    const auto owner = folders.ownerOf(ownerName);
    if (!owner)
        return missingOwner(c, ownerName);
    const auto rowid = folders.find(*owner, name.trimmed());
    if (!rowid)
        return refuse(c, QStringLiteral("La cartella virtuale \"%1\" non esiste").arg(name));
    if (const auto refusal = folders.remove(*owner, *rowid))
        return refuse(c, *refusal);
    return done(c, QStringLiteral("Cartella virtuale \"%1\" eliminata").arg(name.trimmed()));
}

int list(CliContext& c, const QString& ownerName) {
    access::VirtualDirService folders(c.db);
    std::optional<qint64> owner;
    if (!ownerName.isEmpty()) {
        owner = folders.ownerOf(ownerName);
        if (!owner)
            return missingOwner(c, ownerName);
    }
    QList<access::VirtualDirRow> rows = folders.folders(owner);
    // By owner and name, as every owner's come.
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        return std::pair(a.owner, a.entry.name) < std::pair(b.owner, b.entry.name);
    });
    CliTable table{{QStringLiteral("proprietario"), QStringLiteral("nome"),
                    QStringLiteral("origine"), QStringLiteral("destinazione")},
                   {}};
    for (const access::VirtualDirRow& r : rows)
        table.rows << QStringList{r.owner, r.entry.name, r.entry.position, r.entry.destination};
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
