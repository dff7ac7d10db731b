#pragma once
// One channel command's run: its arguments, its output and the client that
// reaches the server (the data folder's socket, or a remote server's).

#include "adminchannel/AdminClient.h"
#include "adminchannel/AdminPlace.h"
#include "program/CliAdmin.h"
#include "program/CliArguments.h"
#include "program/CliContext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <optional>
#include <variant>

namespace kv::cli {

struct Run {
    QString folder;
    CliIo& io;
    CliArguments args;
    AdminClient own;
    AdminClient* remote = nullptr; // a remote server's, already logged in
    bool connected = false;        // `own` is, for the requests after the first

    AdminClient& client() { return remote ? *remote : own; }

    bool json() const { return args.has(QStringLiteral("json")); }

    int usage(const QString& message) {
        io.err << message << Qt::endl << QStringLiteral("Vedere: kestrova help") << Qt::endl;
        return kUsage;
    }
    int refuse(const QString& message) {
        io.err << message << Qt::endl;
        return kRefused;
    }
    // Connects; the exit status when that fails.
    std::optional<int> connect() {
        if (remote || connected)
            return std::nullopt;
        switch (own.connectTo(adminSocketToConnect(folder))) {
        case AdminClient::Connect::Connected:
            connected = true;
            return std::nullopt;
        case AdminClient::Connect::Denied:
            return refuse(
                QStringLiteral("Accesso negato al canale di amministrazione di %1").arg(folder));
        case AdminClient::Connect::NoServer:
            break;
        }
        if (const auto closed = closedFolderProblem(folder))
            return refuse(*closed);
        io.err << QStringLiteral("Nessun server in funzione su %1").arg(folder) << Qt::endl;
        return kNoServer;
    }
    // Sends `request`; the answer when it is "ok", else the exit status
    // after printing why.
    std::variant<QJsonObject, int> ask(const QJsonObject& request) {
        if (const auto failed = connect())
            return *failed;
        const auto answer = client().request(request);
        if (!answer)
            return refuse(client().error());
        if (!answer->value(QStringLiteral("ok")).toBool())
            return refuse(answer->value(QStringLiteral("error")).toString());
        return *answer;
    }
    void printJson(const QJsonValue& value) {
        io.out << (value.isArray() ? QJsonDocument(value.toArray())
                                   : QJsonDocument(value.toObject()))
                      .toJson(QJsonDocument::Indented);
    }
};

} // namespace kv::cli
