// A whole order against pebble on loopback: the flow's requests carried by
// the libcurl transport on its worker thread, the http-01 answers served by
// the test, and the chain checked against pebble's root.
#include "acme/AcmeHttpTransport.h"
#include "acme/AcmeOrderFlow.h"
#include "acme/ChallengeAnswers.h"
#include "tests/acme/PebbleCa.h"

#include <QSignalSpy>
#include <QTest>

#include <openssl/pem.h>
#include <openssl/x509v3.h>

using namespace kv::acme;

namespace {

// Answers GET /.well-known/acme-challenge/TOKEN from `answers`, 404 otherwise.
class Http01Responder : public QObject {
public:
    QHash<QByteArray, QByteArray> answers; // path → body
    bool answerChallenges = true;          // false: 404 for every path
    int asked = 0;
    int served = 0;

    bool listen(quint16 port) {
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
            }
        });
        return server_.listen(QHostAddress::LocalHost, port);
    }

private:
    void answer(QTcpSocket* socket) {
        QByteArray& request = pending_[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
        pending_.remove(socket);
        const QByteArray path = words.value(1);
        QByteArray reply;
        ++asked;
        if (words.value(0) == "GET" && answerChallenges && answers.contains(path)) {
            ++served;
            const QByteArray body = answers.value(path);
            reply = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                    QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        } else {
            reply = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        }
        socket->write(reply);
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    QHash<QTcpSocket*, QByteArray> pending_;
};

QList<X509*> readChain(const QByteArray& pem) {
    QList<X509*> chain;
    BIO* in = BIO_new_mem_buf(pem.constData(), int(pem.size()));
    while (X509* cert = PEM_read_bio_X509(in, nullptr, nullptr, nullptr))
        chain << cert;
    BIO_free(in);
    return chain;
}

// 1 when `chain` leads from its first certificate to `root`.
int verifyChain(const QList<X509*>& chain, X509* root) {
    X509_STORE* store = X509_STORE_new();
    X509_STORE_add_cert(store, root);
    STACK_OF(X509)* untrusted = sk_X509_new_null();
    for (qsizetype i = 1; i < chain.size(); ++i)
        sk_X509_push(untrusted, chain.at(i));
    X509_STORE_CTX* context = X509_STORE_CTX_new();
    X509_STORE_CTX_init(context, store, chain.first(), untrusted);
    const int verified = X509_verify_cert(context);
    if (verified != 1)
        qWarning() << X509_verify_cert_error_string(X509_STORE_CTX_get_error(context));
    X509_STORE_CTX_free(context);
    sk_X509_free(untrusted);
    X509_STORE_free(store);
    return verified;
}

// One order's parts: pebble, the http-01 answers, the transport trusting
// pebble's listener, a new account key and the flow wired to all of them.
struct OrderRun {
    Http01Responder responder;
    PebbleCa ca;
    QTemporaryDir data;
    std::unique_ptr<AcmeHttpTransport> transport;
    std::optional<AccountKey> accountKey;
    std::unique_ptr<AcmeOrderFlow> flow;

    QString start(int nonceRejectPercent) {
        const quint16 httpPort = PebbleCa::freeTcpPort();
        if (!responder.listen(httpPort))
            return QStringLiteral("cannot listen on the http-01 port");
        if (const QString error = ca.start(httpPort, PebbleCa::freeTcpPort(), nonceRejectPercent);
            !error.isEmpty())
            return error;
        transport = std::make_unique<AcmeHttpTransport>();
        if (const auto error = transport->trustExtraCertificates(ca.tlsCertificateFile()))
            return *error;
        const AccountKeyResult account =
            loadOrCreateAccountKey(data.filePath(QStringLiteral("acme-account.pem")));
        if (!account.key)
            return account.error;
        accountKey = account.key;
        AcmeOrderSettings settings;
        settings.directoryUrl = ca.directoryUrl();
        settings.domains = {QStringLiteral("kv.test")};
        settings.email = QStringLiteral("operatore@kv.test");
        settings.defaultPollMs = 200;
        settings.giveUpAfterMs = 60000;
        flow = std::make_unique<AcmeOrderFlow>(*accountKey, settings);
        QObject::connect(flow.get(), &AcmeOrderFlow::requestReady, transport.get(),
                         &AcmeHttpTransport::send);
        QObject::connect(transport.get(), &AcmeHttpTransport::answered, flow.get(),
                         &AcmeOrderFlow::receive);
        QObject::connect(flow.get(), &AcmeOrderFlow::challengeReady, &responder,
                         [this](const PendingChallenge& challenge) {
                             QCOMPARE(challenge.type, QStringLiteral("http-01"));
                             QCOMPARE(challenge.domain, QStringLiteral("kv.test"));
                             responder.answers.insert(http01Path(challenge.token),
                                                      http01Body(challenge.keyAuthorization));
                         });
        QObject::connect(flow.get(), &AcmeOrderFlow::challengesDone, &responder,
                         [this] { responder.answers.clear(); });
        return {};
    }
};

} // namespace

class TestAcmeOrderFlow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        if (!PebbleCa::installed())
            QSKIP("pebble and pebble-challtestsrv are not installed (Debian package pebble, "
                  "which tools/setup installs)");
    }

    void obtainsACertificateByHttp01_data() {
        QTest::addColumn<int>("nonceRejectPercent");
        QTest::newRow("every nonce good") << 0;
        QTest::newRow("half the nonces refused") << 50;
    }
    void obtainsACertificateByHttp01() {
        QFETCH(int, nonceRejectPercent);
        OrderRun run;
        const QString started = run.start(nonceRejectPercent);
        QVERIFY2(started.isEmpty(), qPrintable(started));
        Http01Responder& responder = run.responder;
        AcmeHttpTransport& transport = *run.transport;
        AcmeOrderFlow& flow = *run.flow;
        QSignalSpy succeeded(&flow, &AcmeOrderFlow::succeeded);
        QSignalSpy failed(&flow, &AcmeOrderFlow::failed);
        flow.start();
        QTRY_VERIFY_WITH_TIMEOUT(succeeded.count() + failed.count() > 0, 90000);
        if (!failed.isEmpty()) {
            const auto problem = failed.first().first().value<AcmeProblem>();
            qWarning().noquote() << run.ca.log();
            QFAIL(qPrintable(
                QStringLiteral("%1: %2 %3").arg(problem.step, problem.type, problem.detail)));
        }
        QVERIFY(responder.served > 0);
        QVERIFY(responder.answers.isEmpty()); // withdrawn once the name was checked
        if (nonceRejectPercent > 0)
            qInfo() << "badNonce answers retried:" << flow.badNonceRetries();
        else
            QCOMPARE(flow.badNonceRetries(), 0);

        // The root pebble made at its start, through the same transport.
        QSignalSpy answered(&transport, &AcmeHttpTransport::answered);
        transport.send({AcmeRequest::Method::Get, run.ca.rootUrl(), {}, {}});
        QVERIFY(answered.wait(15000));
        const auto rootAnswer = answered.first().first().value<AcmeResponse>();
        QCOMPARE(rootAnswer.status, 200);
        const QList<X509*> roots = readChain(rootAnswer.body);
        QCOMPARE(roots.size(), 1);

        const auto issued = succeeded.first().first().value<IssuedCertificate>();
        const QList<X509*> chain = readChain(issued.chainPem);
        QVERIFY(chain.size() >= 2); // the certificate and pebble's intermediate
        QCOMPARE(verifyChain(chain, roots.first()), 1);
        QCOMPARE(X509_check_host(chain.first(), "kv.test", 0, 0, nullptr), 1);
        BIO* in = BIO_new_mem_buf(issued.keyPem.constData(), int(issued.keyPem.size()));
        EVP_PKEY* key = PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr);
        BIO_free(in);
        QCOMPARE(X509_check_private_key(chain.first(), key), 1);
        QVERIFY(!EVP_PKEY_eq(key, run.accountKey->handle())); // never the account's key
        EVP_PKEY_free(key);
        for (X509* cert : chain + roots)
            X509_free(cert);
    }

    // Nothing answers the CA on the challenge port: the order ends with the
    // CA's own problem for the name, and the answers are withdrawn.
    void unansweredChallengeKeepsTheCaProblem() {
        OrderRun run;
        const QString started = run.start(0);
        QVERIFY2(started.isEmpty(), qPrintable(started));
        run.responder.answerChallenges = false;
        QSignalSpy succeeded(run.flow.get(), &AcmeOrderFlow::succeeded);
        QSignalSpy failed(run.flow.get(), &AcmeOrderFlow::failed);
        QSignalSpy withdrawn(run.flow.get(), &AcmeOrderFlow::challengesDone);
        run.flow->start();
        QTRY_VERIFY_WITH_TIMEOUT(succeeded.count() + failed.count() > 0, 90000);
        QCOMPARE(succeeded.count(), 0);
        QCOMPARE(failed.count(), 1);
        const auto problem = failed.first().first().value<AcmeProblem>();
        QCOMPARE(problem.source, AcmeProblem::Source::Ca);
        QCOMPARE(problem.step, QStringLiteral("challenge"));
        QCOMPARE(problem.identifier, QStringLiteral("kv.test"));
        QCOMPARE(problem.shortType(), QStringLiteral("unauthorized")); // pebble's 404 verdict
        QVERIFY(problem.type.startsWith(QStringLiteral("urn:ietf:params:acme:error:")));
        QVERIFY(!problem.detail.isEmpty());
        QCOMPARE(withdrawn.count(), 1);
        QVERIFY(run.responder.asked > 0);
    }
};

QTEST_GUILESS_MAIN(TestAcmeOrderFlow)
#include "test_acmeorderflow.moc"
