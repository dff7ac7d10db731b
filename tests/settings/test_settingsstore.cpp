// QtSettingsStore: per-user values as text, with defaults for missing ones.

#include "settings/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kv;

class TestSettingsStore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void valuesComeBackAsTheSameText() {
        // Texts a settings file could take for lists, variants or escapes.
        const QStringList values = {
            "", "1", "a,b", "@Variant(x)", "  two words  ", "perché è così", "a\"b;c=d"};
        QTemporaryDir dir;
        for (int i = 0; i < values.size(); ++i)
            QtSettingsStore(dir.path())
                .setValue(kAppTarrow, kSectionAppIni, QString::number(i), values[i]);
        // A new store (as at the next start) reads the same texts; a stored
        // empty text is a value, not a missing one.
        QtSettingsStore later(dir.path());
        for (int i = 0; i < values.size(); ++i)
            QCOMPARE(later.value(kAppTarrow, kSectionAppIni, QString::number(i), "-"), values[i]);
        QCOMPARE(later.value(kAppTarrow, kSectionAppIni, "missing", "8040"),
                 QStringLiteral("8040"));
        // Applications and sections are kept apart.
        QCOMPARE(later.value(kAppKestrova, kSectionAppIni, "1", "-"), QStringLiteral("-"));
        QCOMPARE(later.value(kAppTarrow, "Other", "1", "-"), QStringLiteral("-"));
    }

    void fileIsPlainTextInTheGivenFolder() {
        QTemporaryDir dir;
        QtSettingsStore(dir.path()).setValue(kAppTarrow, kSectionAppIni, "Width", "9000");
        QFile written(QDir(dir.path()).filePath("Kestrova Tarrow.ini"));
        QVERIFY(written.open(QIODevice::ReadOnly));
        QVERIFY(written.readAll().contains("[AppIni]\nWidth=9000"));
        // A file edited by hand is read as text.
        QFile edited(QDir(dir.path()).filePath("Kestrova.ini"));
        QVERIFY(edited.open(QIODevice::WriteOnly));
        edited.write("[AppIni]\nlist=a,b\n");
        edited.close();
        QCOMPARE(QtSettingsStore(dir.path()).value(kAppKestrova, kSectionAppIni, "list"),
                 QStringLiteral("a,b"));
    }

    void fileLandsInThePerUserConfigurationFolder() {
        const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
        if (configHome.isEmpty() || !QDir(configHome).isAbsolute())
            QSKIP("the configuration folder is not redirected for this run");
        const QString folder = configHome + "/Kestrova Vellim";
        QDir(folder).removeRecursively();
        QtSettingsStore().setValue(kAppTarrow, kSectionAppIni, "Height", "7000");
        QVERIFY(QFileInfo::exists(folder + "/Kestrova Tarrow.ini"));
        QCOMPARE(QtSettingsStore().value(kAppTarrow, kSectionAppIni, "Height"),
                 QStringLiteral("7000"));
        QDir(folder).removeRecursively();
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "test_settingsstore.moc"
