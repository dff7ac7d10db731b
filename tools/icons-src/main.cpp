// Writes the program icon as PNG files for the desktop theme, one per size:
// kv_icons DIR writes DIR/NxN/kestrova.png for every size the theme uses.
#include "window/Artwork.h"

#include <QDir>
#include <QGuiApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: kv_icons DIR\n";
        return 2;
    }
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder =
            QStringLiteral("%1/%2x%2").arg(QString::fromLocal8Bit(argv[1])).arg(size);
        if (!QDir().mkpath(folder) ||
            !kv::ui::art::programPicture(size).save(folder + QStringLiteral("/kestrova.png"))) {
            QTextStream(stderr) << "cannot write " << folder << "/kestrova.png\n";
            return 1;
        }
    }
    return 0;
}
