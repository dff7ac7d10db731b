#include "program/CliRemoteCopy.h"

#include "access/AccountDatabase.h"
#include "access/MirrorDatabase.h"
#include "adminchannel/AdminClient.h"
#include "core/DataFolder.h"
#include "settings/FolderPresence.h"
#include "settings/SharedRoot.h"

#include <QJsonArray>
#include <QTemporaryDir>

namespace kv::cli {

namespace {

// What a command printed, held until the server has accepted its change.
struct HeldOutput {
    QString outText;
    QString errText;
    QTextStream out{&outText};
    QTextStream err{&errText};

    void release(CliIo& io) {
        out.flush();
        err.flush();
        io.out << outText;
        io.out.flush();
        io.err << errText;
        io.err.flush();
    }
};

int refuse(CliIo& io, const QString& message) {
    io.err << message << Qt::endl;
    return kRefused;
}

} // namespace

int runOnRemoteCopy(int (*run)(CliContext&), const QStringList& words, AdminClient& client,
                    CliIo& io) {
    const auto snapshot = client.request({{QStringLiteral("op"), QStringLiteral("snapshot")}});
    if (!snapshot)
        return refuse(io, client.error());
    if (!snapshot->value(QStringLiteral("ok")).toBool())
        return refuse(io, snapshot->value(QStringLiteral("error")).toString());
    const QJsonObject tables = snapshot->value(QStringLiteral("tables")).toObject();
    // Private to this user (0700) and removed at the end, with the password hashes it holds.
    const QTemporaryDir folder;
    if (!folder.isValid())
        return refuse(io, QStringLiteral("Impossibile creare una cartella temporanea: %1")
                              .arg(folder.errorString()));
    constexpr int kBusyWaitMs = 5000;
    access::AccountDatabase copy(accountsFile(folder.path()), kBusyWaitMs, {});
    if (!copy.open())
        return refuse(io, copy.problem());
    if (const auto problem = access::loadSnapshot(copy.connection(), tables))
        return refuse(io, *problem);

    // The copy names the server's folders: the server judges whether they exist.
    settings::setFoldersAreRemote(true);
    HeldOutput held;
    CliIo heldIo{held.out, held.err, io.readPassword, io.readText, io.terminal};
    CliContext c{copy.connection(), folder.path(), {}, heldIo, &client};
    c.args.words = words;
    const int code = run(c);
    const QJsonArray changes = access::changesSince(copy.connection(), tables);
    if (code != kDone || changes.isEmpty()) {
        held.release(io);
        return code;
    }
    const bool wholeDisk = words.contains(settings::kWholeDiskFlag);
    const auto applied = client.request({{QStringLiteral("op"), QStringLiteral("apply")},
                                         {QStringLiteral("changes"), changes},
                                         {QStringLiteral("wholeDisk"), wholeDisk}});
    if (!applied)
        return refuse(io, QStringLiteral("Non si sa se il server abbia salvato la modifica: %1")
                              .arg(client.error()));
    if (!applied->value(QStringLiteral("ok")).toBool())
        return refuse(io, applied->value(QStringLiteral("error")).toString());
    held.release(io);
    if (applied->contains(QStringLiteral("reloadError")))
        return refuse(io,
                      QStringLiteral("Modifica salvata, ma il server non ha potuto applicarla: %1")
                          .arg(applied->value(QStringLiteral("reloadError")).toString()));
    return kDone;
}

} // namespace kv::cli
