#include "program/CommandLine.h"

#include "core/Version.h"

#include <QCommandLineParser>

namespace kv {

namespace {

// Qt's documented options of every window program, taken by QApplication
// itself (those after "=" take a value).
const QStringList kQtFlags{QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                           QStringLiteral("nograb"), QStringLiteral("dograb"),
                           QStringLiteral("sync")};
const QStringList kQtValues{QStringLiteral("platform"),      QStringLiteral("platformpluginpath"),
                            QStringLiteral("platformtheme"), QStringLiteral("plugin"),
                            QStringLiteral("qmljsdebugger"), QStringLiteral("qwindowgeometry"),
                            QStringLiteral("qwindowicon"),   QStringLiteral("qwindowtitle"),
                            QStringLiteral("session"),       QStringLiteral("display"),
                            QStringLiteral("geometry"),      QStringLiteral("style"),
                            QStringLiteral("stylesheet")};

// Group membership is what lets an operator administer the packaged
// service, so the help says how to get it.
QString helpText() {
    return QStringLiteral(
        "Uso: kestrova [--headless] [--data-dir CARTELLA] [--service | --choose]\n"
        "     kestrova COMANDO ...   (kestrova help elenca i comandi)\n"
        "\n"
        "Kestrova Vellim: un piccolo server FTP amministrato da una finestra.\n"
        "\n"
        "Come servizio (kestrova.service del pacchetto Debian) il server gira come utente "
        "kestrova\nsu /var/lib/kestrova. I membri del gruppo kestrova possono amministrarlo "
        "(kestrova status,\nwho, reload, user ...) e modificarne accounts.dat: "
        "sudo adduser NOME kestrova, poi un nuovo\naccesso perché il gruppo valga.\n"
        "\n"
        "Opzioni:\n"
        "  -h, --help            Mostra questo aiuto ed esce.\n"
        "  -v, --version         Mostra la versione ed esce.\n"
        "  --headless            Avvia il server senza finestra, fino a SIGTERM o SIGINT.\n"
        "  --data-dir CARTELLA   Cartella di accounts.dat e ftp.log.\n"
        "  --service             Apre la finestra sul servizio di sistema (/var/lib/kestrova)\n"
        "                        e si collega al suo server; serve il gruppo kestrova.\n"
        "  --choose              Chiede di nuovo se aprire il server del servizio di sistema\n"
        "                        o il proprio (per chi è nel gruppo kestrova).\n"
        "\n"
        "La finestra accetta anche le opzioni di Qt per le finestre (-platform, -style, "
        "-display ...).\n");
}

// "--data-dir=/x" -> "data-dir".
QString bareName(const QString& arg) {
    QString name = arg.section(u'=', 0, 0);
    while (name.startsWith(u'-'))
        name.remove(0, 1);
    return name;
}

bool takesValue(const QString& name) {
    return name == QLatin1String("data-dir") || kQtValues.contains(name);
}

// The option `name` as it was typed ("-x", "--bogus", "-hv").
QString typed(const QStringList& arguments, const QString& name) {
    for (const QString& arg : arguments.mid(1)) {
        if (arg.startsWith(u'-') && bareName(arg) == name)
            return arg.section(u'=', 0, 0);
    }
    return QStringLiteral("--") + name;
}

CommandLineReading refused(const QString& why) {
    CommandLineReading reading;
    reading.run = false;
    reading.exitCode = 2;
    reading.text = QStringLiteral("%1\nkestrova --help elenca le opzioni.\n").arg(why);
    return reading;
}

} // namespace

CommandLineReading readCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    // "-platform xcb" as Qt writes its options, not "-p -l -a ...".
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(
        QStringList{QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("help-all")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    const QCommandLineOption headless(QStringLiteral("headless"));
    const QCommandLineOption dataDir(QStringLiteral("data-dir"), QString(),
                                     QStringLiteral("CARTELLA"));
    const QCommandLineOption service(QStringLiteral("service"));
    const QCommandLineOption choose(QStringLiteral("choose"));
    parser.addOptions({help, version, headless, dataDir, service, choose});
    for (const QString& name : kQtFlags)
        parser.addOption(QCommandLineOption(name));
    for (const QString& name : kQtValues)
        parser.addOption(QCommandLineOption(name, QString(), QStringLiteral("x")));

    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return refused(
                QStringLiteral("Opzione sconosciuta: %1").arg(typed(arguments, unknown.first())));
        // The other failures: a value given to an option that takes none
        // ("--headless=1"), or missing after the last option.
        for (const QString& arg : arguments.mid(1)) {
            if (arg.startsWith(u'-') && arg.contains(u'=') && !takesValue(bareName(arg)))
                return refused(QStringLiteral("L'opzione %1 non vuole un valore")
                                   .arg(arg.section(u'=', 0, 0)));
        }
        return refused(QStringLiteral("Manca il valore di %1").arg(arguments.last()));
    }
    CommandLineReading reading;
    if (parser.isSet(help) || parser.isSet(version)) {
        reading.run = false;
        reading.text =
            parser.isSet(help)
                ? helpText()
                : QStringLiteral("Kestrova Vellim %1\n").arg(QString::fromLatin1(kv::kVersionText));
        return reading;
    }
    if (const QStringList words = parser.positionalArguments(); !words.isEmpty())
        return refused(
            QStringLiteral("Comando sconosciuto: %1 (vedere: kestrova help)").arg(words.first()));
    for (const QCommandLineOption* window : {&service, &choose}) {
        if (parser.isSet(*window) && (parser.isSet(dataDir) || parser.isSet(headless)))
            return refused(QStringLiteral("--%1 non si usa con --data-dir o --headless")
                               .arg(window->names().constFirst()));
    }
    if (parser.isSet(dataDir) && parser.value(dataDir).isEmpty())
        return refused(QStringLiteral("Manca il valore di --data-dir"));
    reading.options = {parser.isSet(headless), parser.value(dataDir), parser.isSet(service),
                       parser.isSet(choose)};
    return reading;
}

} // namespace kv
