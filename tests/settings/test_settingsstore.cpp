// QtSettingsStore: per-user values as text, with defaults for missing ones.

#include "settings/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace kv;

class TestSettingsStore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void missingValuesGiveTheDefault() {
        QTemporaryDir dir;
        QtSettingsStore store(dir.path());
        QCOMPARE(store.value(kAppTarrow, kSectionAppIni, "Width", "8040"), QStringLiteral("8040"));
        QCOMPARE(store.value(kAppTarrow, kSectionAppIni, "NoShow1"), QString());
        // A stored empty text is a value, not a missing one.
        store.setValue(kAppTarrow, kSectionAppIni, "Width", QString());
        QCOMPARE(store.value(kAppTarrow, kSectionAppIni, "Width", "fallback"), QString());
    }

    void valuesComeBackAsTheSameText() {
        // Texts a settings file could take for lists, variants or escapes.
        const QStringList values = {
            "8040", "1", "on", "a,b", "@Variant(x)", "  two words  ", "perché è così", "a\"b;c=d"};
        QTemporaryDir dir;
        {
            QtSettingsStore store(dir.path());
            for (int i = 0; i < values.size(); ++i)
                store.setValue(kAppTarrow, kSectionAppIni, QStringLiteral("Key%1").arg(i),
                               values[i]);
        }
        // A new store (as at the next start) reads the same texts.
        QtSettingsStore later(dir.path());
        for (int i = 0; i < values.size(); ++i)
            QCOMPARE(later.value(kAppTarrow, kSectionAppIni, QStringLiteral("Key%1").arg(i), "-"),
                     values[i]);
    }

    void applicationsAndSectionsAreKeptApart() {
        QTemporaryDir dir;
        QtSettingsStore store(dir.path());
        store.setValue(kAppTarrow, kSectionAppIni, "previewretry", "on");
        QCOMPARE(store.value(kAppKestrova, kSectionAppIni, "previewretry"), QString());
        store.setValue(kAppKestrova, kSectionAppIni, "previewretry", "off");
        store.setValue(kAppTarrow, "Other", "previewretry", "x");
        QCOMPARE(store.value(kAppTarrow, kSectionAppIni, "previewretry"), QStringLiteral("on"));
        QCOMPARE(store.value(kAppKestrova, kSectionAppIni, "previewretry"), QStringLiteral("off"));
        QCOMPARE(store.value(kAppTarrow, "Other", "previewretry"), QStringLiteral("x"));
    }

    void fileIsPlainTextInTheGivenFolder() {
        QTemporaryDir dir;
        QtSettingsStore(dir.path()).setValue(kAppTarrow, kSectionAppIni, "Width", "9000");
        QFile written(QDir(dir.path()).filePath("Kestrova Tarrow.ini"));
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QByteArray text = written.readAll();
        QVERIFY(text.contains("[AppIni]"));
        QVERIFY(text.contains("Width=9000"));

        // A file edited by hand is read as text.
        QFile edited(QDir(dir.path()).filePath("Kestrova.ini"));
        QVERIFY(edited.open(QIODevice::WriteOnly));
        edited.write("[AppIni]\nlist=a,b\nnumber=12\n");
        edited.close();
        QtSettingsStore store(dir.path());
        QCOMPARE(store.value(kAppKestrova, kSectionAppIni, "list"), QStringLiteral("a,b"));
        QCOMPARE(store.value(kAppKestrova, kSectionAppIni, "number"), QStringLiteral("12"));
    }

    void fileLandsInThePerUserConfigurationFolder() {
        const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
        if (configHome.isEmpty() || !QDir(QString::fromLocal8Bit(configHome)).isAbsolute())
            QSKIP("the configuration folder is not redirected for this run");
        const QString folder = QString::fromLocal8Bit(configHome) + "/Kestrova Vellim";
        QDir(folder).removeRecursively();
        QtSettingsStore store;
        store.setValue(kAppTarrow, kSectionAppIni, "Height", "7000");
        QVERIFY(QFileInfo::exists(folder + "/Kestrova Tarrow.ini"));
        QCOMPARE(QtSettingsStore().value(kAppTarrow, kSectionAppIni, "Height"),
                 QStringLiteral("7000"));
        QDir(folder).removeRecursively();
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "test_settingsstore.moc"
