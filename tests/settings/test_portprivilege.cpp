// Whether a port may be bound, read from a /proc of the test's own making,
// and the port a new database starts with.

#include "settings/PortPrivilege.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kv::settings;

class TestPortPrivilege : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void mayBindPort_data() {
        QTest::addColumn<QByteArray>("firstFree"); // ip_unprivileged_port_start; empty: no file
        QTest::addColumn<QByteArray>("status");    // /proc/self/status; empty: no file
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("allowed");
        const QByteArray plain = "Name:\tkestrova\nCapEff:\t0000000000000000\nCapBnd:\t1ff\n";
        const QByteArray bind = "Name:\tkestrova\nCapEff:\t0000000000000400\n";
        const QByteArray root = "CapEff:\t000001ffffffffff\n";
        QTest::newRow("user, port 21") << QByteArray("1024\n") << plain << 21 << false;
        QTest::newRow("user, port 1023") << QByteArray("1024") << plain << 1023 << false;
        QTest::newRow("user, port 1024") << QByteArray("1024") << plain << 1024 << true;
        QTest::newRow("user, first port lowered") << QByteArray("0") << plain << 21 << true;
        QTest::newRow("service granted the capability") << QByteArray("1024") << bind << 21 << true;
        QTest::newRow("root") << QByteArray("1024") << root << 21 << true;
        QTest::newRow("nothing readable: allowed") << QByteArray() << QByteArray() << 21 << true;
        QTest::newRow("no capabilities line: allowed")
            << QByteArray("1024") << QByteArray("Name:\tx\n") << 21 << true;
    }
    void mayBindPort() {
        QFETCH(QByteArray, firstFree);
        QFETCH(QByteArray, status);
        QFETCH(int, port);
        QTemporaryDir proc;
        QVERIFY(QDir(proc.path()).mkpath("sys/net/ipv4") && QDir(proc.path()).mkpath("self"));
        const auto write = [&](const QString& path, const QByteArray& text) {
            if (text.isEmpty())
                return;
            QFile file(proc.filePath(path));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text);
        };
        write("sys/net/ipv4/ip_unprivileged_port_start", firstFree);
        write("self/status", status);
        QTEST(kv::settings::mayBindPort(quint16(port), proc.path()), "allowed");
    }

    void aNewDatabasesPort() {
        QCOMPARE(newDatabasePort(true), QString("21"));
        QCOMPARE(newDatabasePort(false), QString("2121"));
    }
};

QTEST_GUILESS_MAIN(TestPortPrivilege)
#include "test_portprivilege.moc"
