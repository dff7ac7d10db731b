#include "core/ChallengeServerListener.h"
#include "core/DataFolder.h"
#include "core/ProgramCore.h"
#include "core/StartFolderChoice.h"
#include "core/Version.h"
#include "ftp/FtpServer.h"
#include "net/DescriptorLimit.h"
#include "net/EpollDispatcher.h"
#include "program/Cli.h"
#include "program/CommandLine.h"
#include "program/HeadlessServer.h"
#include "program/MachineCertificate.h"
#include "program/PasswordPrompt.h"
#include "program/RemoteWindow.h"
#include "program/SignalWatcher.h"
#include "program/StandardInput.h"
#include "program/WindowEventLoop.h"
#include "settings/SettingsStore.h"
#include "window/Form1.h"
#include "window/ItalianTranslation.h"
#include "window/MessageBoxMessages.h"
#include "window/StartFolderQuestion.h"

#include <QApplication>
#include <QTextStream>
#include <memory>
#include <unistd.h>

namespace {

void describeApplication() {
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrova"));
    QCoreApplication::setApplicationName(QStringLiteral("Kestrova Vellim"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kv::kVersionText));
}

std::unique_ptr<kv::ftp::FtpEngine> makeEngine() {
    return std::make_unique<kv::ftp::FtpServer>();
}

// The first word that is not an option (nor the value after --data-dir,
// --remote, --trust or --admin-password-file).
QString firstWord(const QStringList& args) {
    static const QStringList valued = {QStringLiteral("--data-dir"), QStringLiteral("--remote"),
                                       QStringLiteral("--trust"),
                                       QStringLiteral("--admin-password-file")};
    for (int i = 1; i < args.size(); ++i) {
        if (valued.contains(args[i]))
            ++i;
        else if (!args[i].startsWith(QLatin1Char('-')))
            return args[i];
    }
    return {};
}

int runSubcommand(const QStringList& args) {
    QTextStream out(stdout);
    QTextStream err(stderr);
    kv::cli::CliIo io{out, err, &kv::cli::readPasswordLine, &kv::cli::readInputText,
                      isatty(STDIN_FILENO) != 0};
    return kv::cli::runSubcommand(args.mid(1), &kv::dataFolder, io);
}

int runHeadless(const kv::CommandLine& options) {
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QString folder = kv::dataFolder(options.dataDir);
    kv::QtSettingsStore settings;
    kv::ProgramCore core(folder, settings, makeEngine);
    core.setCertificateTools(kv::machineCertificateTools());
    core.setAcmeChallengeListeners(&kv::makeChallengeServerListener);
    if (!core.databaseProblem().isEmpty())
        err << core.databaseProblem() << Qt::endl;
    // A read-only database still decides logins; one that could not be opened cannot.
    if (!core.database().isOpen())
        return 1;
    kv::HeadlessServer server(core, out, err);
    kv::SignalWatcher signals;
    QObject::connect(&signals, &kv::SignalWatcher::terminationRequested, &server,
                     &kv::HeadlessServer::stop);
    QObject::connect(&signals, &kv::SignalWatcher::reloadRequested, &server,
                     &kv::HeadlessServer::reload);
    if (!server.start())
        return 2;
    return QCoreApplication::exec();
}

int runWindow(const kv::CommandLine& options);

} // namespace

int main(int argc, char** argv) {
    {
        QStringList args;
        for (int i = 0; i < argc; ++i)
            args << QString::fromLocal8Bit(argv[i]);
        if (kv::cli::isSubcommand(firstWord(args))) {
            QCoreApplication app(argc, argv);
            describeApplication();
            return runSubcommand(args);
        }
    }
    // Read before any application object: help, the version and a bad
    // command line need no display (QApplication aborts without one).
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    // --remote with no command: a window on another PC's server.
    if (const kv::RemoteWindowReading remote = kv::readRemoteWindowRequest(args); remote.wanted) {
        QString problem = remote.error;
        std::optional<QString> password;
        if (problem.isEmpty())
            password = kv::readRemotePassword(remote.request, &problem);
        if (!password) {
            QTextStream(stderr) << problem << Qt::endl;
            return 2;
        }
        kv::WindowEventLoop loop;
        QApplication app(argc, argv);
        loop.attachPlatform();
        describeApplication();
        kv::ui::installItalianTranslation(app);
        const int code = kv::runRemoteWindow(remote.request, *password);
        loop.detachPlatform();
        return code;
    }
    const kv::CommandLineReading reading = kv::readCommandLine(args);
    if (!reading.run) {
        QTextStream(reading.exitCode == 0 ? stdout : stderr) << reading.text;
        return reading.exitCode;
    }
    // Every connection holds a descriptor.
    kv::net::raiseDescriptorLimit();
    if (reading.options.headless) {
        // Without a window the loop serves sockets and timers only: epoll
        // keeps a wake-up's cost independent of the idle sessions open.
        auto dispatcher = std::make_unique<kv::net::EpollDispatcher>();
        if (dispatcher->isValid())
            QCoreApplication::setEventDispatcher(dispatcher.release());
        QCoreApplication app(argc, argv);
        describeApplication();
        return runHeadless(reading.options);
    }
    kv::WindowEventLoop loop;
    QApplication app(argc, argv);
    loop.attachPlatform();
    describeApplication();
    kv::ui::installItalianTranslation(app);
    const int code = runWindow(reading.options);
    loop.detachPlatform();
    return code;
}

namespace {
// The plain menu entry, for a member of the service's group where the
// service is installed: the service's server or one's own, asked once.
bool opensTheService(kv::SettingsStore& settings, const QString& serviceFolder, bool askAgain) {
    kv::StartFolderChoice choice(settings);
    if (askAgain)
        choice.forget();
    const kv::ServiceFacts facts =
        kv::serviceFacts(serviceFolder, kv::kServiceUnitFiles, kv::kServiceGroup);
    if (const std::optional<kv::StartFolder> decided = choice.decided(facts))
        return *decided == kv::StartFolder::Service;
    kv::ui::StartFolderQuestion question;
    question.exec();
    const kv::ui::StartFolderAnswer answer = question.answer();
    choice.answer(answer.folder, answer.remember);
    return answer.folder == kv::StartFolder::Service;
}

int runWindow(const kv::CommandLine& options) {
    const QString serviceFolder = kv::serviceDataFolder();
    kv::QtSettingsStore settings;
    const bool service =
        options.service ||
        (options.dataDir.isEmpty() && opensTheService(settings, serviceFolder, options.choose));
    if (service) {
        if (const QString problem = kv::serviceFolderProblem(serviceFolder); !problem.isEmpty()) {
            QTextStream(stderr) << problem << Qt::endl;
            kv::ui::MessageBoxMessages().show(problem, kv::MessageIcon::Exclamation);
            return 1;
        }
    }
    const QString folder = service ? serviceFolder : kv::dataFolder(options.dataDir);
    kv::ProgramCore core(folder, settings, makeEngine);
    core.setCertificateTools(kv::machineCertificateTools());
    core.setAcmeChallengeListeners(&kv::makeChallengeServerListener);
    kv::ui::MessageBoxMessages messages;
    kv::ui::Form1Options windowOptions = kv::ui::defaultForm1Options();
    windowOptions.stateFile = qEnvironmentVariable("KESTROVA_WINDOW_STATE");
    windowOptions.serviceFolder = serviceFolder;
    kv::ui::Form1 window(core, messages, nullptr, windowOptions);
    messages.setOwner(&window);
    // Ended by the session or by kill, the window stops its server as headless mode does.
    kv::SignalWatcher signals;
    QObject::connect(&signals, &kv::SignalWatcher::terminationRequested, &window,
                     &kv::ui::Form1::endOnSignal);
    QObject::connect(&signals, &kv::SignalWatcher::reloadRequested, &window,
                     &kv::ui::Form1::reloadOnSignal);
    window.show();
    return QApplication::exec();
}
} // namespace
