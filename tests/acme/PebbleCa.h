#pragma once
// Debian's pebble (a test ACME CA) and its pebble-challtestsrv (the DNS that
// points every name at 127.0.0.1), run from a test's temporary folder on
// loopback ports of their own. Pebble's TLS certificate is made here for
// 127.0.0.1 and localhost; tlsCertificateFile() is what the client trusts.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <memory>

class PebbleCa {
public:
    static bool installed() {
        return !QStandardPaths::findExecutable(QStringLiteral("pebble")).isEmpty() &&
               !QStandardPaths::findExecutable(QStringLiteral("pebble-challtestsrv")).isEmpty();
    }

    ~PebbleCa() {
        for (QProcess* process : {&pebble_, &dns_}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }

    // Starts both; the reason when one does not come up within 15 s.
    // `httpPort` and `tlsPort` are where pebble checks the challenges.
    QString start(quint16 httpPort, quint16 tlsPort, int nonceRejectPercent) {
        if (!dir_.isValid())
            return QStringLiteral("no temporary folder");
        if (const QString error = makeTlsCertificate(); !error.isEmpty())
            return error;
        const quint16 dnsPort = freeTcpAndUdpPort();
        const quint16 dnsManagement = freeTcpPort();
        dns_.setProcessChannelMode(QProcess::MergedChannels);
        dns_.start(QStringLiteral("pebble-challtestsrv"),
                   {"-defaultIPv4", "127.0.0.1", "-defaultIPv6", "", "-dns01",
                    QStringLiteral("127.0.0.1:%1").arg(dnsPort), "-http01", "", "-https01", "",
                    "-tlsalpn01", "", "-management",
                    QStringLiteral("127.0.0.1:%1").arg(dnsManagement)});
        if (!waitForPort(dnsManagement, dns_))
            return QStringLiteral("pebble-challtestsrv did not start: ") + output(dns_);

        port_ = freeTcpPort();
        managementPort_ = freeTcpPort();
        const QJsonObject config{
            {"pebble", QJsonObject{{"listenAddress", QStringLiteral("127.0.0.1:%1").arg(port_)},
                                   {"managementListenAddress",
                                    QStringLiteral("127.0.0.1:%1").arg(managementPort_)},
                                   {"certificate", dir_.filePath("pebble-cert.pem")},
                                   {"privateKey", dir_.filePath("pebble-key.pem")},
                                   {"httpPort", int(httpPort)},
                                   {"tlsPort", int(tlsPort)},
                                   {"ocspResponderURL", ""},
                                   {"externalAccountBindingRequired", false}}}};
        QFile file(dir_.filePath("pebble-config.json"));
        if (!file.open(QIODevice::WriteOnly))
            return file.errorString();
        file.write(QJsonDocument(config).toJson());
        file.close();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PEBBLE_VA_NOSLEEP", "1");
        environment.insert("PEBBLE_WFE_NONCEREJECT", QString::number(nonceRejectPercent));
        pebble_.setProcessEnvironment(environment);
        pebble_.setProcessChannelMode(QProcess::MergedChannels);
        pebble_.setWorkingDirectory(dir_.path());
        pebble_.start(QStringLiteral("pebble"), {"-config", file.fileName(), "-dnsserver",
                                                 QStringLiteral("127.0.0.1:%1").arg(dnsPort)});
        if (!waitForPort(port_, pebble_) || !waitForPort(managementPort_, pebble_))
            return QStringLiteral("pebble did not start: ") + output(pebble_);
        return {};
    }

    QString directoryUrl() const { return QStringLiteral("https://127.0.0.1:%1/dir").arg(port_); }
    // The root that signs what pebble issues (new at each start).
    QString rootUrl() const {
        return QStringLiteral("https://127.0.0.1:%1/roots/0").arg(managementPort_);
    }
    QString tlsCertificateFile() const { return dir_.filePath("pebble-cert.pem"); }
    QString log() { return output(pebble_) + output(dns_); }

    static quint16 freeTcpPort() {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        return server.serverPort();
    }

private:
    QString makeTlsCertificate() {
        QProcess openssl;
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start(QStringLiteral("openssl"),
                      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                       "-nodes", "-days", "2", "-subj", "/CN=localhost", "-addext",
                       "subjectAltName=DNS:localhost,IP:127.0.0.1", "-keyout",
                       dir_.filePath("pebble-key.pem"), "-out", dir_.filePath("pebble-cert.pem")});
        if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
            return QStringLiteral("openssl req failed: ") + openssl.readAll();
        return {};
    }

    // A port free for both TCP and UDP (the DNS server listens on both).
    static quint16 freeTcpAndUdpPort() {
        for (int attempt = 0; attempt < 20; ++attempt) {
            const quint16 port = freeTcpPort();
            QUdpSocket udp;
            if (udp.bind(QHostAddress::LocalHost, port))
                return port;
        }
        return 0;
    }

    static bool waitForPort(quint16 port, QProcess& process) {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 15000 && process.state() != QProcess::NotRunning) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (probe.waitForConnected(200))
                return true;
            process.waitForReadyRead(100); // lets it start; output kept for errors
        }
        return false;
    }

    QString output(QProcess& process) {
        collected_[&process] += QString::fromLocal8Bit(process.readAll());
        return collected_[&process];
    }

    QTemporaryDir dir_;
    QProcess dns_;
    QProcess pebble_;
    quint16 port_ = 0;
    quint16 managementPort_ = 0;
    QHash<QProcess*, QString> collected_;
};
