#include "program/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <QTextStream>

#include <cstdlib>
#include <cstring>

namespace kv {

bool wantsNoWindow(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"--headless", "--help", "-h", "--help-all", "--version", "-v"})
            if (std::strcmp(argv[i], option) == 0)
                return true;
    }
    return false;
}

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "main", "Kestrova Vellim: un piccolo server FTP amministrato da una finestra."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption headless(
        QStringLiteral("headless"),
        QCoreApplication::translate("main",
                                    "Avvia il server senza finestra, fino a SIGTERM o SIGINT."));
    const QCommandLineOption dataDir(
        QStringLiteral("data-dir"),
        QCoreApplication::translate("main", "Cartella di accounts.dat e ftp.log."),
        QStringLiteral("DIR"));
    const QCommandLineOption service(
        QStringLiteral("service"),
        QCoreApplication::translate("main",
                                    "Apre la finestra sul servizio di sistema (/var/lib/kestrova) "
                                    "e si collega al suo server; serve il gruppo kestrova."));
    parser.addOption(headless);
    parser.addOption(dataDir);
    parser.addOption(service);
    parser.process(arguments);
    if (parser.isSet(service) && (parser.isSet(dataDir) || parser.isSet(headless))) {
        QTextStream(stderr) << QCoreApplication::translate(
                                   "main", "--service non si usa con --data-dir o --headless")
                            << Qt::endl;
        std::exit(2);
    }
    return {parser.isSet(headless), parser.value(dataDir), parser.isSet(service)};
}

} // namespace kv
