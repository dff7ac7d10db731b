// The options a start hands to the engine: every row checked through the
// catalog, the TLS settings built from them, certificate and key paths
// resolved against the data folder, and named files that cannot be read
// refused before the engine sees them.

#include "core/StartOptions.h"
#include "tests/support/DataRow.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kv;
using ftp::TlsMode;
using ftp::TlsVersion;

Q_DECLARE_METATYPE(ftp::TlsSettings)

namespace {
QMap<QString, QString> rowsOf(const QStringList& pairs) {
    QMap<QString, QString> rows;
    for (const QString& pair : pairs)
        rows.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
    return rows;
}
ftp::TlsSettings withFiles(TlsMode mode, const QString& certificate, const QString& key) {
    return {.mode = mode, .certificateFile = certificate, .privateKeyFile = key};
}
} // namespace

class TestStartOptions : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

    QString in(const QString& name) { return QDir(dir.path()).filePath(name); }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(QDir(dir.path()).mkpath("certs"));
        QVERIFY(QDir(dir.path()).mkpath("folder.pem"));
        for (const char* name : {"certs/server.pem", "certs/server.key"}) {
            QFile file(in(QString::fromLatin1(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("-----BEGIN-----\n");
        }
    }

    void settingsFromRows_data() {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<ftp::TlsSettings>("expected");
        QTest::addColumn<QStringList>("errors");

        const ftp::TlsSettings defaults{.certificateFile = in("kestrova-cert.pem"),
                                        .privateKeyFile = in("kestrova-key.pem")};
        addRow("no rows: today's behaviour, generated files", QStringList(), defaults,
               QStringList());
        addRow("every option, relative and absolute paths",
               QStringList{"tls=REQUIRED", "tls_implicit_port=990", "tls_session_reuse=0",
                           "tls_min_version=1.3", "tls_max_version=1.3",
                           "tls_certificate=certs/server.pem",
                           "tls_private_key=" + in("certs/../certs/server.key")},
               ftp::TlsSettings{.mode = TlsMode::Required,
                                .implicitPort = 990,
                                .certificateFile = in("certs/server.pem"),
                                .privateKeyFile = in("certs/server.key"),
                                .requireSessionReuse = false,
                                .minVersion = TlsVersion::V1_3},
               QStringList());
        addRow("named certificate missing", QStringList{"tls=on", "tls_certificate=missing.pem"},
               withFiles(TlsMode::On, in("missing.pem"), defaults.privateKeyFile),
               QStringList{"Opzione tls_certificate: il file " +
                           QDir::toNativeSeparators(in("missing.pem")) + " non esiste"});
        addRow("named key is a folder",
               QStringList{"tls=on", "tls_private_key=" + in("folder.pem")},
               withFiles(TlsMode::On, defaults.certificateFile, in("folder.pem")),
               QStringList{"Opzione tls_private_key: il file " +
                           QDir::toNativeSeparators(in("folder.pem")) + " non è leggibile"});
        addRow("files are not looked at while TLS is off",
               QStringList{"tls=off", "tls_certificate=missing.pem"},
               withFiles(TlsMode::Off, in("missing.pem"), defaults.privateKeyFile), QStringList());
        ftp::TlsSettings order =
            withFiles(TlsMode::On, defaults.certificateFile, defaults.privateKeyFile);
        order.minVersion = TlsVersion::V1_3;
        order.maxVersion = TlsVersion::V1_2;
        addRow("minimum above maximum",
               QStringList{"tls=on", "tls_min_version=1.3", "tls_max_version=1.2"}, order,
               QStringList{"Opzioni tls_min_version e tls_max_version: la versione minima (1.3) "
                           "è più alta della massima (1.2)"});
    }
    void settingsFromRows() {
        QFETCH(QStringList, rows);
        QFETCH(ftp::TlsSettings, expected);
        QFETCH(QStringList, errors);
        const StartOptions options = readStartOptions(rowsOf(rows), dir.path());
        QCOMPARE(options.errors, errors);
        QCOMPARE(options.ok(), errors.isEmpty());
        QVERIFY(options.tls == expected);
    }

    void passiveFromRows_data() {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::addColumn<QString>("address");  // the public address handed over
        QTest::addColumn<QString>("hostName"); // the name to follow
        QTest::addColumn<QStringList>("errors");
        const auto row = [](const char* name, const QStringList& rows, int first, int last,
                            const char* address, const char* hostName, const QStringList& errors) {
            addRow(name, rows, first, last, QString(address), QString(hostName), errors);
        };
        row("no rows: any port, the connected address", {}, 0, 0, "", "", {});
        row("empty rows mean the same", {"passive_ports=", "passive_address= "}, 0, 0, "", "", {});
        row("range and address", {"passive_ports=50000-50100", "passive_address=203.0.113.7"},
            50000, 50100, "203.0.113.7", "", {});
        row("a host name is followed, not handed over", {"passive_address=Casa.Example.NET"}, 0, 0,
            "", "casa.example.net", {});
        row("bad range: nothing of it reaches the engine",
            {"passive_ports=80-90", "passive_address=203.0.113.7"}, 0, 0, "203.0.113.7", "",
            {"Opzione passive_ports: 80-90 non è un intervallo di porte valido (PRIMA-ULTIMA, "
             "porte da 1024 a 65535, per esempio 50000-50100)"});
    }
    void passiveFromRows() {
        QFETCH(QStringList, rows);
        const StartOptions options = readStartOptions(rowsOf(rows), dir.path());
        QTEST(options.errors, "errors");
        QTEST(int(options.passive.portFirst), "first");
        QTEST(int(options.passive.portLast), "last");
        QFETCH(QString, address);
        QCOMPARE(options.passive.publicAddress,
                 address.isEmpty() ? QHostAddress() : QHostAddress(address));
        QTEST(options.passiveHostName, "hostName");
    }

    void limitsAndBansFromRows_data() {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QByteArray>("minuteMs");    // KESTROVA_BAN_MINUTE_MS; empty: unset
        QTest::addColumn<QList<qint64>>("expected"); // total, per address, attempts, window, ban
        QTest::addColumn<QStringList>("errors");
        const qint64 minute = 60000;
        addRow("no rows: the engine's limits, no bans", QStringList(), QByteArray(),
               QList<qint64>{1000, 500, 0, 10 * minute, 10 * minute}, QStringList());
        addRow("a new database's rows",
               QStringList{"max_connections=100", "max_connections_per_ip=32", "ban_attempts=5",
                           "ban_window_minutes=10", "ban_minutes=10"},
               QByteArray(), QList<qint64>{100, 32, 5, 10 * minute, 10 * minute}, QStringList());
        addRow("no limits, a short test minute",
               QStringList{"max_connections=0", "max_connections_per_ip=0", "ban_attempts=3",
                           "ban_window_minutes=2", "ban_minutes=3"},
               QByteArray("500"), QList<qint64>{0, 0, 3, 1000, 1500}, QStringList());
        addRow("a test minute out of range is a real minute", QStringList{"ban_minutes=1"},
               QByteArray("0"), QList<qint64>{1000, 500, 0, 10 * minute, minute}, QStringList());
    }
    void limitsAndBansFromRows() {
        QFETCH(QStringList, rows);
        QFETCH(QByteArray, minuteMs);
        QFETCH(QList<qint64>, expected);
        if (minuteMs.isEmpty())
            qunsetenv("KESTROVA_BAN_MINUTE_MS");
        else
            qputenv("KESTROVA_BAN_MINUTE_MS", minuteMs);
        const StartOptions options = readStartOptions(rowsOf(rows), dir.path());
        qunsetenv("KESTROVA_BAN_MINUTE_MS");
        QTEST(options.errors, "errors");
        QCOMPARE((QList<qint64>{options.maxConnections, options.maxConnectionsPerIp,
                                options.bans.attempts, options.bans.windowMs, options.bans.banMs}),
                 expected);
    }

    void sftpFromRows_data() {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("passwords");
        QTest::addColumn<int>("errorCount");
        QTest::newRow("no rows: off, passwords accepted") << QStringList() << 0 << true << 0;
        QTest::newRow("a port") << QStringList{"sftp_port=2222"} << 2222 << true << 0;
        addRow("keys only", QStringList{"sftp_port=65535", "sftp_password_auth=0"}, 65535, false,
               0);
        QTest::newRow("a port out of range") << QStringList{"sftp_port=65536"} << 0 << true << 1;
        QTest::newRow("not a switch") << QStringList{"sftp_password_auth=yes"} << 0 << true << 1;
    }
    void sftpFromRows() {
        QFETCH(QStringList, rows);
        const StartOptions options = readStartOptions(rowsOf(rows), dir.path());
        QTEST(int(options.sftpPort), "port");
        QTEST(options.sftpPasswordAuth, "passwords");
        QTEST(int(options.errors.size()), "errorCount");
        for (const QString& e : options.errors)
            QVERIFY2(e.contains(u"sftp_"), qPrintable(e));
    }
};

QTEST_GUILESS_MAIN(TestStartOptions)
#include "test_startoptions.moc"
