// The Impostazioni panel's host key lines: none before SFTP made the keys,
// then each key's fingerprint as the key file gives it.

#include "admin/logic/SftpHostKeyText.h"
#include "sftp/SftpHostKeys.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestSftpHostKeyText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fingerprintsOnceTheKeysExist() {
        QTemporaryDir dir;
        QVERIFY(
            kv::admin::sftpHostKeyText(dir.path()).startsWith(QStringLiteral("Nessuna chiave")));
        const kv::sftp::HostKeyFiles files = kv::sftp::hostKeyFiles(dir.path());
        QVERIFY(kv::sftp::ensureHostKeys(files).isEmpty());
        const QString text = kv::admin::sftpHostKeyText(dir.path());
        const QString ed = kv::sftp::hostKeyFingerprint(files.ed25519);
        const QString ec = kv::sftp::hostKeyFingerprint(files.ecdsa);
        QVERIFY(ed.startsWith(QStringLiteral("SHA256:")) && ec != ed);
        QCOMPARE(text, QStringLiteral("ED25519  %1\nECDSA  %2").arg(ed, ec));
        // A key file that cannot be read is left out, not shown empty.
        QFile broken(files.ecdsa);
        QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
        broken.write("not a key");
        broken.close();
        QCOMPARE(kv::admin::sftpHostKeyText(dir.path()), QStringLiteral("ED25519  %1").arg(ed));
    }
};

QTEST_GUILESS_MAIN(TestSftpHostKeyText)
#include "test_sftphostkeytext.moc"
