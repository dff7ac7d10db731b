// QtSettingsStore: per-user values as text, with defaults for missing ones.

#include "app/settings/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace kv;

class TestSettingsStore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void missingValuesGiveTheDefault_data();
    void missingValuesGiveTheDefault();
    void valuesComeBackAsTheSameText_data();
    void valuesComeBackAsTheSameText();
    void applicationsAndSectionsAreKeptApart();
    void fileLandsInTheGivenFolder();
    void fileLandsInThePerUserConfigurationFolder();
    void handEditedFileIsReadAsText();
};

void TestSettingsStore::missingValuesGiveTheDefault_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("defaultValue");
    QTest::newRow("width") << "Width"
                           << "8040";
    QTest::newRow("height") << "Height"
                            << "8370";
    QTest::newRow("no default") << "NoShow1"
                                << "";
}

void TestSettingsStore::missingValuesGiveTheDefault() {
    QFETCH(QString, name);
    QFETCH(QString, defaultValue);
    QTemporaryDir dir;
    QtSettingsStore store(dir.path());
    QCOMPARE(store.value(kAppTarrow, kSectionAppIni, name, defaultValue), defaultValue);
    // A stored empty text is a value, not a missing one.
    store.setValue(kAppTarrow, kSectionAppIni, name, QString());
    QCOMPARE(store.value(kAppTarrow, kSectionAppIni, name, "fallback"), QString());
}

void TestSettingsStore::valuesComeBackAsTheSameText_data() {
    QTest::addColumn<QString>("value");
    QTest::newRow("number") << "8040";
    QTest::newRow("one") << "1";
    QTest::newRow("word") << "on";
    QTest::newRow("comma") << "a,b";
    QTest::newRow("at sign") << "@Variant(x)";
    QTest::newRow("spaces") << "  two words  ";
    QTest::newRow("accents") << "perché è così";
    QTest::newRow("quote and semicolon") << "a\"b;c=d";
}

void TestSettingsStore::valuesComeBackAsTheSameText() {
    QFETCH(QString, value);
    QTemporaryDir dir;
    {
        QtSettingsStore store(dir.path());
        store.setValue(kAppTarrow, kSectionAppIni, "OnlineCol1", value);
    }
    // A new store (as at the next start) reads the same text.
    QtSettingsStore later(dir.path());
    QCOMPARE(later.value(kAppTarrow, kSectionAppIni, "OnlineCol1", "default"), value);
}

void TestSettingsStore::applicationsAndSectionsAreKeptApart() {
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

void TestSettingsStore::fileLandsInTheGivenFolder() {
    QTemporaryDir dir;
    QtSettingsStore store(dir.path());
    store.setValue(kAppTarrow, kSectionAppIni, "Width", "9000");
    QFile file(QDir(dir.path()).filePath("Kestrova Tarrow.ini"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.contains("[AppIni]"));
    QVERIFY(text.contains("Width=9000"));
}

void TestSettingsStore::fileLandsInThePerUserConfigurationFolder() {
    const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
    if (configHome.isEmpty() || !QDir(QString::fromLocal8Bit(configHome)).isAbsolute())
        QSKIP("the configuration folder is not redirected for this run");
    const QString folder = QString::fromLocal8Bit(configHome) + "/Kestrova Vellim";
    QDir(folder).removeRecursively();
    QtSettingsStore store;
    store.setValue(kAppTarrow, kSectionAppIni, "Height", "7000");
    QVERIFY(QFileInfo::exists(folder + "/Kestrova Tarrow.ini"));
    QCOMPARE(QtSettingsStore().value(kAppTarrow, kSectionAppIni, "Height"), QStringLiteral("7000"));
    QDir(folder).removeRecursively();
}

void TestSettingsStore::handEditedFileIsReadAsText() {
    QTemporaryDir dir;
    QFile file(QDir(dir.path()).filePath("Kestrova.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[AppIni]\nlist=a,b\nnumber=12\n");
    file.close();
    QtSettingsStore store(dir.path());
    QCOMPARE(store.value(kAppKestrova, kSectionAppIni, "list"), QStringLiteral("a,b"));
    QCOMPARE(store.value(kAppKestrova, kSectionAppIni, "number"), QStringLiteral("12"));
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
