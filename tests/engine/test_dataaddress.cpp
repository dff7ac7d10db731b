// The PORT, EPRT and EPSV argument readers: what each argument becomes.

#include "engine/DataAddress.h"
#include "tests/support/DataRow.h"

#include <QTest>

using namespace kv::engine;
using namespace Qt::StringLiterals;

class TestDataAddress : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void activeAddress_data() {
        QTest::addColumn<bool>("extended");
        QTest::addColumn<QString>("arg");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        const int ok = int(DataAddressError::None), syntax = int(DataAddressError::Syntax);
        const auto row = [](const char* name, bool ext, const QString& arg, int error,
                            const QString& host = {}, int port = 0) {
            QTest::newRow(name) << ext << arg << error << host << port;
        };
        row("port valid", false, u" 127,0,0,1,4,1 "_s, ok, u"127.0.0.1"_s, 1025);
        row("port byte over 255", false, u"127,0,0,256,4,1"_s, syntax);
        row("port 0", false, u"127,0,0,1,0,0"_s, syntax);
        row("port five fields", false, u"127,0,0,1,4"_s, syntax);
        row("port garbage", false, u"a,b,c,d,e,f"_s, syntax);
        row("eprt ipv4", true, u"|1|127.0.0.1|40000|"_s, ok, u"127.0.0.1"_s, 40000);
        row("eprt ipv6 other delimiter", true, u"!2!::1!2121!"_s, ok, u"::1"_s, 2121);
        row("eprt port over 65535", true, u"|1|127.0.0.1|65536|"_s, syntax);
        row("eprt protocol 9", true, u"|9|x|1|"_s, int(DataAddressError::Protocol));
        row("eprt ipv4 in 2", true, u"|2|127.0.0.1|40000|"_s, syntax);
        row("eprt three delimiters", true, u"|1|127.0.0.1|40000"_s, syntax);
        row("eprt garbage", true, u"hello"_s, syntax);
        row("eprt overlong", true, u"|1|"_s + QString(5000, u'9') + u"|1|"_s, syntax);
    }
    void activeAddress() {
        QFETCH(bool, extended);
        QFETCH(QString, arg);
        const DataAddress a = extended ? parseEprtArgument(arg) : parsePortArgument(arg);
        QTEST(int(a.error), "error");
        QTEST(a.ok() ? a.host.toString() : QString(), "host");
        QTEST(int(a.port), "port");
    }

    void activeTargetIsTheClientForTheUnspecifiedAddress_data() {
        QTest::addColumn<QString>("arg");
        QTest::addColumn<QString>("client");
        QTest::addColumn<QString>("target");
        addRow("eprt :: (lftp)", u"|2|::|40000|"_s, u"::1"_s, u"::1"_s);
        addRow("eprt 0.0.0.0", u"|1|0.0.0.0|40000|"_s, u"10.0.0.7"_s, u"10.0.0.7"_s);
        addRow("port 0,0,0,0", u"0,0,0,0,156,64"_s, u"10.0.0.7"_s, u"10.0.0.7"_s);
        addRow("eprt named address kept", u"|2|2001:db8::1|40000|"_s, u"::1"_s, u"2001:db8::1"_s);
        addRow("eprt mapped any kept apart", u"|2|::ffff:0.0.0.0|40000|"_s, u"::1"_s,
               u"::ffff:0.0.0.0"_s);
    }
    void activeTargetIsTheClientForTheUnspecifiedAddress() {
        QFETCH(QString, arg);
        QFETCH(QString, client);
        const DataAddress named =
            arg.contains(u'|') ? parseEprtArgument(arg) : parsePortArgument(arg);
        QVERIFY(named.ok());
        QTEST(activeTarget(named, QHostAddress(client)).toString(), "target");
    }

    void epsv() {
        // No argument, "EPSV 2" and "EPSV ALL": test_ftpserver's data addresses.
        QCOMPARE(parseEpsvArgument(u" 1 ", true), EpsvRequest::Listen);
        QCOMPARE(parseEpsvArgument(u"all", false), EpsvRequest::All);
    }
};

QTEST_GUILESS_MAIN(TestDataAddress)
#include "test_dataaddress.moc"
