// The port list and the minimized start as the window reads them from the settings row.
#include "panels/logic/StartupDefaults.h"

#include <QTest>

using namespace kv;

class TestStartupDefaults : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void port_data() {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QStringList>("expectedEntries");
        QTest::addColumn<QString>("expectedText");
        QTest::addColumn<int>("selected");
        const QStringList design{"21"}, both{"21", "2121"};
        QTest::newRow("other port added and selected") << design << "2121" << both << "2121" << 1;
        QTest::newRow("21 not added twice") << design << "21" << design << "21" << -1;
        QTest::newRow("empty becomes 21") << design << "" << design << "21" << -1;
        QTest::newRow("listed once, selected") << both << "2121" << both << "2121" << 1;
    }
    void port() {
        QFETCH(QStringList, entries);
        QFETCH(QString, port);
        const PortChoice choice = choosePort(entries, port);
        QTEST(choice.entries, "expectedEntries");
        QTEST(choice.text, "expectedText");
        QTEST(choice.selected, "selected");
    }

    void minimized_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("minimized");
        QTest::newRow("normal") << "0" << false;
        QTest::newRow("minimized") << "1" << true;
        QTest::newRow("minus one") << "-1" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("text") << "no" << false;
        QTest::newRow("spaces, a fraction and words") << "  0.5 volte" << true;
    }
    void minimized() {
        QFETCH(QString, mode);
        QTEST(startsMinimized(mode), "minimized");
    }
};

QTEST_GUILESS_MAIN(TestStartupDefaults)
#include "test_startupdefaults.moc"
