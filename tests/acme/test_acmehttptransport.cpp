// The transport's answers come back on the event loop, failures as values:
// an unusable CA file, nobody listening, a listener that does not speak TLS;
// one connection carries request after request.
#include "acme/AcmeHttpTransport.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace kv::acme;

class TestAcmeHttpTransport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void unusableCaFileIsRefused_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("exists");
        QTest::newRow("missing") << QByteArray() << false;
        QTest::newRow("no certificate in it") << QByteArray("hello\n") << true;
    }
    void unusableCaFileIsRefused() {
        QFETCH(QByteArray, contents);
        QFETCH(bool, exists);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ca.pem"));
        if (exists) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(contents);
        }
        AcmeHttpTransport transport;
        const auto error = transport.trustExtraCertificates(path);
        QVERIFY(error);
        QVERIFY(error->contains(QStringLiteral("acme_ca_file")));
        QVERIFY(error->contains(path));
    }

    void failuresComeBackAsValues_data() {
        QTest::addColumn<bool>("listening");
        QTest::newRow("nobody listening") << false;
        QTest::newRow("not a TLS server") << true;
    }
    void failuresComeBackAsValues() {
        QFETCH(bool, listening);
        QTcpServer server; // accepts and says nothing, then closes
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const quint16 port = server.serverPort();
        if (!listening)
            server.close();
        connect(&server, &QTcpServer::newConnection, this, [&server] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                socket->write("HTTP/1.1 200 OK\r\n\r\n");
                socket->disconnectFromHost();
            }
        });
        AcmeHttpTransport transport;
        QSignalSpy answered(&transport, &AcmeHttpTransport::answered);
        QElapsedTimer sent;
        sent.start();
        transport.send({AcmeRequest::Method::Get,
                        QStringLiteral("https://127.0.0.1:%1/dir").arg(port),
                        {},
                        {}});
        QVERIFY(sent.elapsed() < 200); // the loop does not wait for the exchange
        QVERIFY(answered.wait(30000));
        const auto response = answered.first().first().value<AcmeResponse>();
        QCOMPARE(response.status, 0);
        QVERIFY(!response.transportError.isEmpty());
    }

    // An order's requests follow one another on one connection to the CA.
    void requestsShareOneConnection() {
        QTcpServer server; // HTTP/1.1 that keeps each connection open
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QHash<QTcpSocket*, QByteArray> unanswered; // per connection
        connect(&server, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                unanswered.insert(socket, {});
                connect(socket, &QTcpSocket::readyRead, socket, [&unanswered, socket] {
                    QByteArray& bytes = unanswered[socket];
                    bytes += socket->readAll();
                    for (qsizetype end; (end = bytes.indexOf("\r\n\r\n")) >= 0;) {
                        bytes.remove(0, end + 4);
                        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
                    }
                });
            }
        });
        AcmeHttpTransport transport;
        QSignalSpy answered(&transport, &AcmeHttpTransport::answered);
        for (int i = 1; i <= 3; ++i) {
            transport.send(
                {AcmeRequest::Method::Get,
                 QStringLiteral("http://127.0.0.1:%1/%2").arg(server.serverPort()).arg(i),
                 {},
                 {}});
            QTRY_COMPARE_WITH_TIMEOUT(answered.count(), i, 30000);
            QCOMPARE(answered.last().first().value<AcmeResponse>().body, QByteArray("ok"));
        }
        QCOMPARE(unanswered.size(), 1); // connections accepted
    }
};

QTEST_GUILESS_MAIN(TestAcmeHttpTransport)
#include "test_acmehttptransport.moc"
