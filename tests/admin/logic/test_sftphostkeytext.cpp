// The Impostazioni panel's host key lines without a window.

#include "admin/logic/SftpHostKeyText.h"
#include "sftp/SftpHostKeys.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestSftpHostKeyText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A key file that cannot be read is left out, not shown empty (the lines
    // for readable keys and for none: test_settingspanel).
    void anUnreadableKeyIsLeftOut() {
        QTemporaryDir dir;
        const kv::sftp::HostKeyFiles files = kv::sftp::hostKeyFiles(dir.path());
        QVERIFY(kv::sftp::ensureHostKeys(files).isEmpty());
        QFile broken(files.ecdsa);
        QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
        broken.write("not a key");
        broken.close();
        QCOMPARE(kv::admin::sftpHostKeyText(dir.path()),
                 QStringLiteral("ED25519  %1").arg(kv::sftp::hostKeyFingerprint(files.ed25519)));
    }
};

QTEST_GUILESS_MAIN(TestSftpHostKeyText)
#include "test_sftphostkeytext.moc"
