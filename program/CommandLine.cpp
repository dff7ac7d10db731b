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
    const QCommandLineOption service(
        QStringLiteral("service"),
        QCoreApplication::translate("main",
                                    "Apre la finestra sul servizio di sistema (/var/lib/kestrova) "
                                    "e si collega al suo server; serve il gruppo kestrova."));
    const QCommandLineOption choose(
        QStringLiteral("choose"),
        QCoreApplication::translate("main",
                                    "Chiede di nuovo se aprire il server del servizio di sistema "
                                    "o il proprio (per chi è nel gruppo kestrova)."));
    parser.addOption(headless);
    parser.addOption(dataDir);
    parser.addOption(service);
    parser.addOption(choose);
    parser.process(arguments);
    for (const QCommandLineOption* window : {&service, &choose}) {
        if (parser.isSet(*window) && (parser.isSet(dataDir) || parser.isSet(headless))) {
            QTextStream(stderr) << QCoreApplication::translate(
                                       "main", "--%1 non si usa con --data-dir o --headless")
                                       .arg(window->names().constFirst())
                                << Qt::endl;
            std::exit(2);
        }
    }
    return {parser.isSet(headless), parser.value(dataDir), parser.isSet(service),
            parser.isSet(choose)};
}

} // namespace kv
