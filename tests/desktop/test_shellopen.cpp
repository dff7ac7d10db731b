#include "desktop/ShellOpen.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kv;
using namespace kv::shell;

namespace {

struct Opener {
    QStringList opened;
    QList<bool> answers; // one per call; missing answers are failures
    DesktopOpener fn() {
        return [this](const QString& document, const QString& folder) {
            opened.append(document + QLatin1Char('|') + folder);
            return answers.isEmpty() ? false : answers.takeFirst();
        };
    }
};

QString stored(const SettingsStore& s, const QString& app) {
    return s.value(app, kSectionAppIni, QStringLiteral("previewretry"), QStringLiteral("<none>"));
}

} // namespace

class TestShellOpen : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void emptyDocumentOpensNothing() {
        MemorySettingsStore settings;
        Opener opener;
        QCOMPARE(ShellOpen(QString(), QStringLiteral("/tmp"), settings, opener.fn()), false);
        QVERIFY(opener.opened.isEmpty());
        // The setting is still stored first, as on every call.
        QCOMPARE(stored(settings, kAppTarrow), QStringLiteral("on"));
    }

    void outcomes_data() {
        QTest::addColumn<QString>("retrySetting");
        QTest::addColumn<bool>("folderGiven");
        QTest::addColumn<bool>("documentExists");
        QTest::addColumn<QList<bool>>("answers");
        QTest::addColumn<bool>("notOpened");
        QTest::addColumn<int>("calls");
        const auto row = [](const char* name, const QString& retry, bool folder, bool exists,
                            const QList<bool>& answers, bool notOpened, int calls) {
            QTest::newRow(name) << retry << folder << exists << answers << notOpened << calls;
        };
        row("opened at once", "", true, false, {true}, false, 1);
        row("web address: retry path does not exist", "", true, false, {false}, true, 1);
        row("retry of an existing file succeeds", "", true, true, {false, true}, false, 2);
        row("retry of an existing file fails", "on", true, true, {false, false}, true, 2);
        row("retry not allowed", "off", true, true, {false}, true, 1);
        row("no folder: no retry", "", false, true, {false}, true, 1);
    }
    void outcomes() {
        QFETCH(QString, retrySetting);
        QFETCH(bool, folderGiven);
        QFETCH(QList<bool>, answers);
        QTemporaryDir dir;
        const QString document = QStringLiteral("pagina.html");
        QFETCH(bool, documentExists);
        if (documentExists)
            QVERIFY(QFile(dir.filePath(document)).open(QIODevice::WriteOnly));
        MemorySettingsStore settings;
        if (!retrySetting.isEmpty())
            settings.setValue(kAppKestrova, kSectionAppIni, "previewretry", retrySetting);
        Opener opener{{}, answers};
        const QString folder = folderGiven ? dir.path() : QString();
        QTEST(ShellOpen(document, folder, settings, opener.fn()), "notOpened");
        QTEST(int(opener.opened.size()), "calls");
        QCOMPARE(opener.opened.first(), document + QLatin1Char('|') + folder);
        if (opener.opened.size() == 2)
            QCOMPARE(opener.opened.at(1), dir.filePath(document) + QLatin1Char('|'));
        // Stored under the other application only when the read found nothing.
        QCOMPARE(stored(settings, kAppTarrow), QString(retrySetting.isEmpty() ? "on" : "<none>"));
    }
};

QTEST_GUILESS_MAIN(TestShellOpen)
#include "test_shellopen.moc"
