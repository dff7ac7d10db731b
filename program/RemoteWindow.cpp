// The window on a remote server: its command line, its password, its
// private data folder and the window itself.
#include "program/RemoteWindow.h"

#include "adminchannel/RemoteCopyFolder.h"
#include "core/ProgramCore.h"
#include "ftp/FtpServer.h"
#include "program/PasswordPrompt.h"
#include "program/SignalWatcher.h"
#include "settings/FolderPresence.h"
#include "settings/SettingsStore.h"
#include "window/Form1.h"
#include "window/MessageBoxMessages.h"

#include <QApplication>
#include <QFile>
#include <QTextStream>

namespace kv {

RemoteWindowReading readRemoteWindowRequest(const QStringList& arguments) {
    RemoteWindowReading reading;
    QString server;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& word = arguments.at(i);
        const bool takesValue =
            word == QLatin1String("--remote") || word == QLatin1String("--admin-password-file");
        if (takesValue && i + 1 >= arguments.size()) {
            reading.error = QStringLiteral("Manca il valore di %1").arg(word);
            return reading;
        }
        if (word == QLatin1String("--remote"))
            server = arguments.at(++i);
        else if (word == QLatin1String("--admin-password-file"))
            reading.request.passwordFile = arguments.at(++i);
        else if (word.startsWith(QLatin1String("--remote=")))
            server = word.section(u'=', 1);
        else if (word.startsWith(QLatin1String("--admin-password-file=")))
            reading.request.passwordFile = word.section(u'=', 1);
        else if (!word.startsWith(u'-'))
            return {}; // a command: the command line's to run against the server
    }
    if (server.isNull())
        return {};
    reading.wanted = true;
    if (const std::optional<RemoteServerAddress> parsed = parseRemoteServer(server, &reading.error))
        reading.request.server = *parsed;
    return reading;
}

std::optional<QString> readRemotePassword(const RemoteWindowRequest& request, QString* error) {
    if (request.passwordFile == QLatin1String("-") ||
        (request.passwordFile.isEmpty() && !qEnvironmentVariableIsSet("KESTROVA_ADMIN_PASSWORD"))) {
        const std::optional<QString> line = cli::readPasswordLine(
            QStringLiteral("Password di amministrazione di %1: ").arg(request.server.text()));
        if (!line)
            *error = QStringLiteral("Nessuna password di amministrazione sullo standard input");
        return line;
    }
    if (request.passwordFile.isEmpty())
        return qEnvironmentVariable("KESTROVA_ADMIN_PASSWORD");
    QFile file(request.passwordFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Impossibile leggere %1: %2")
                     .arg(request.passwordFile, file.errorString());
        return std::nullopt;
    }
    QString first = QString::fromUtf8(file.readLine(64 * 1024));
    while (first.endsWith(u'\n') || first.endsWith(u'\r'))
        first.chop(1);
    return first;
}

int runRemoteWindow(const RemoteWindowRequest& request, const QString& password) {
    // The copy of the server's data lives only as long as the window.
    const RemoteCopyFolder folder;
    if (!folder.problem().isEmpty()) {
        QTextStream(stderr) << folder.problem() << Qt::endl;
        return 1;
    }
    // The copy names the server's folders: the server judges whether they exist.
    settings::setFoldersAreRemote(true);
    QtSettingsStore settings;
    ProgramCore core(folder.path(), settings, [] { return std::make_unique<ftp::FtpServer>(); });
    ui::MessageBoxMessages messages;
    ui::Form1Options options = ui::defaultForm1Options();
    options.stateFile = qEnvironmentVariable("KESTROVA_WINDOW_STATE");
    options.remote = ui::RemoteWindowSetup{request.server, password, {}, {}};
    ui::Form1 window(core, messages, nullptr, options);
    messages.setOwner(&window);
    SignalWatcher signals;
    QObject::connect(&signals, &SignalWatcher::terminationRequested, &window,
                     &ui::Form1::endOnSignal);
    window.show();
    return QApplication::exec();
}

} // namespace kv
