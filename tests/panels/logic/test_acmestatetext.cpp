// What the FTPS group says of the ACME certificate, from the state the
// administration channel answers.
#include "panels/logic/AcmeStateText.h"

#include <QJsonArray>
#include <QTest>

using namespace kv::admin;

namespace {

QString localTime(const char* iso) {
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate)
        .toLocalTime()
        .toString(QStringLiteral("dd/MM/yyyy HH:mm"));
}

QJsonObject issued() {
    return {{"enabled", true},
            {"names", QJsonArray{"ftp.example.org", "example.org"}},
            {"issuer", "R11, Let's Encrypt"},
            {"notAfter", "2027-03-01T10:00:00Z"},
            {"nextAttempt", "2027-01-30T10:00:00Z"},
            {"lastError", ""},
            {"working", false},
            {"attempts", 1}};
}

} // namespace

class TestAcmeStateText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void stateLine_data() {
        QTest::addColumn<QJsonObject>("acme");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("error");
        QTest::newRow("off: nothing")
            << QJsonObject{{"enabled", false}, {"lastError", "x"}} << QString() << QString();
        QTest::newRow("issued, next attempt planned")
            << issued()
            << QStringLiteral("Certificato ACME per ftp.example.org, example.org, emesso da R11, "
                              "Let's Encrypt, scade il %1; prossimo tentativo il %2")
                   .arg(localTime("2027-03-01T10:00:00Z"), localTime("2027-01-30T10:00:00Z"))
            << QString();
        QJsonObject running = issued();
        running["working"] = true;
        QTest::newRow("an attempt running hides the planned one")
            << running
            << QStringLiteral("Certificato ACME per ftp.example.org, example.org, emesso da R11, "
                              "Let's Encrypt, scade il %1; richiesta in corso")
                   .arg(localTime("2027-03-01T10:00:00Z"))
            << QString();
        const QJsonObject failed{{"enabled", true},
                                 {"names", QJsonArray{}},
                                 {"nextAttempt", "2027-01-01T00:05:00Z"},
                                 {"lastError", "la porta 80 del router deve essere inoltrata"},
                                 {"working", false}};
        QTest::newRow("none yet, failed")
            << failed
            << QStringLiteral("Certificato ACME: nessuno ancora (FTPS usa quello autofirmato); "
                              "prossimo tentativo il %1")
                   .arg(localTime("2027-01-01T00:05:00Z"))
            << QStringLiteral("la porta 80 del router deve essere inoltrata");
    }
    void stateLine() {
        QFETCH(QJsonObject, acme);
        QFETCH(QString, line);
        QFETCH(QString, error);
        QCOMPARE(acmeStateLine(acme), line);
        QCOMPARE(acmeErrorLine(acme), error);
    }
};

QTEST_GUILESS_MAIN(TestAcmeStateText)
#include "test_acmestatetext.moc"
