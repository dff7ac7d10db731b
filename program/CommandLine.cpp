#include "program/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

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
    // Group membership is what lets an operator administer the packaged
    // service, so --help says how to get it.
    parser.setApplicationDescription(QCoreApplication::translate(
        "main",
        "Kestrova Vellim: un piccolo server FTP amministrato da una finestra.\n\n"
        "Come servizio (kestrova.service del pacchetto Debian) il server gira come utente "
        "kestrova\nsu /var/lib/kestrova. I membri del gruppo kestrova possono amministrarlo "
        "(kestrova status,\nwho, reload, user ...) e modificarne accounts.dat: "
        "sudo adduser NOME kestrova, poi un nuovo\naccesso perché il gruppo valga."));
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
    parser.addOption(headless);
    parser.addOption(dataDir);
    parser.process(arguments);
    return {parser.isSet(headless), parser.value(dataDir)};
}

} // namespace kv
