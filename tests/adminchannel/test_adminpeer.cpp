// Who may administer: the kernel's word on the peer, and the rule over it.
#include "adminchannel/AdminPeer.h"

#include <QTest>
#include <sys/socket.h>
#include <unistd.h>

using namespace kv;

class TestAdminPeer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rule_data() {
        QTest::addColumn<uint>("uid");
        QTest::addColumn<uint>("gid");
        QTest::addColumn<QList<uint>>("groups");
        QTest::addColumn<bool>("allowed");
        // The server runs as uid 1000; the data folder's group is 2000.
        using G = QList<uint>;
        QTest::newRow("root") << 0u << 0u << G{} << true;
        QTest::newRow("the server's user") << 1000u << 1000u << G{} << true;
        QTest::newRow("folder group as primary") << 1001u << 2000u << G{} << true;
        QTest::newRow("folder group as supplementary") << 1001u << 1001u << G{5, 2000} << true;
        QTest::newRow("stranger") << 1001u << 1001u << G{5, 1000} << false;
        QTest::newRow("nobody") << 65534u << 65534u << G{65534} << false;
    }

    void rule() {
        QFETCH(uint, uid);
        QFETCH(uint, gid);
        QFETCH(QList<uint>, groups);
        PeerCredentials peer{uid, gid, 1, {}};
        for (uint g : groups)
            peer.groups << gid_t(g);
        QTEST(mayAdminister(peer, AdminAccessRule{1000, 2000}), "allowed");
    }

    void credentialsOfAConnectedProcess() {
        int fds[2];
        QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        const auto peer = peerCredentials(fds[0]);
        ::close(fds[0]);
        ::close(fds[1]);
        QVERIFY(peer);
        QCOMPARE(peer->uid, ::geteuid());
        QCOMPARE(peer->gid, ::getegid());
        QCOMPARE(peer->pid, ::getpid());
        QList<gid_t> own(::getgroups(0, nullptr));
        ::getgroups(int(own.size()), own.data());
        for (gid_t g : own)
            QVERIFY(peer->groups.contains(g));
        QVERIFY(!peerCredentials(-1));
    }

    void refusalNamesWhoMay() {
        const QString text =
            adminRefusal(PeerCredentials{65534, 65534, 1, {}}, AdminAccessRule{0, 0});
        QVERIFY2(text.startsWith("Accesso negato"), qPrintable(text));
        QVERIFY2(text.contains("root"), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(TestAdminPeer)
#include "test_adminpeer.moc"
