// The authorizer through its public calls: every operation against every
// single right, no login, and the rights' letter form.

#include "files/Authorizer.h"

#include <QTest>

using namespace kv::files;

Q_DECLARE_METATYPE(kv::files::FileOperation)

class TestAuthorizer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void eachOperationNeedsExactlyItsRight_data();
    void eachOperationNeedsExactlyItsRight();
    void noLoginIsAlwaysRefused();
    void lettersRoundTrip_data();
    void lettersRoundTrip();
};

void TestAuthorizer::eachOperationNeedsExactlyItsRight_data() {
    QTest::addColumn<FileOperation>("operation");
    // The letters of the rights under which the operation is allowed when
    // an account has that single right; "*": allowed with none at all.
    QTest::addColumn<QString>("allowedWith");
    QTest::newRow("change folder") << FileOperation::ChangeDir << "B";
    QTest::newRow("list") << FileOperation::List << "*";
    QTest::newRow("stat") << FileOperation::Stat << "*";
    QTest::newRow("download") << FileOperation::Download << "R";
    QTest::newRow("upload") << FileOperation::Upload << "W";
    QTest::newRow("set time") << FileOperation::SetTime << "W";
    QTest::newRow("rename") << FileOperation::Rename << "W";
    QTest::newRow("delete") << FileOperation::Delete << "D";
    QTest::newRow("make folder") << FileOperation::MakeDir << "M";
    QTest::newRow("remove folder") << FileOperation::RemoveDir << "M";
    QTest::newRow("set mode") << FileOperation::SetMode << "W";
    QTest::newRow("free space") << FileOperation::FreeSpace << "B";
    QTest::newRow("checksum") << FileOperation::Checksum << "R";
}

void TestAuthorizer::eachOperationNeedsExactlyItsRight() {
    QFETCH(FileOperation, operation);
    QFETCH(QString, allowedWith);
    const bool free = allowedWith == u"*";
    for (const QChar letter : QStringLiteral("RWDBM")) {
        LoginGrant grant;
        grant.rights = Rights::fromLetters(QString(letter));
        const bool expected = free || allowedWith.contains(letter);
        QVERIFY2(isAllowed(&grant, operation, QStringLiteral("/a/b")) == expected,
                 qPrintable(QStringLiteral("with right %1").arg(letter)));
    }
    LoginGrant none;
    QCOMPARE(isAllowed(&none, operation), free);
    LoginGrant all;
    all.rights = Rights::all();
    QCOMPARE(isAllowed(&all, operation), !allowedWith.isEmpty());
}

void TestAuthorizer::noLoginIsAlwaysRefused() {
    for (int op = int(FileOperation::ChangeDir); op <= int(FileOperation::Checksum); ++op)
        QVERIFY(!isAllowed(nullptr, FileOperation(op)));
}

void TestAuthorizer::lettersRoundTrip_data() {
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("letters");
    QTest::newRow("none") << ""
                          << "";
    QTest::newRow("order is fixed") << "bmr"
                                    << "RBM";
    QTest::newRow("all") << "MBDWR"
                         << "RWDBM";
    QTest::newRow("others ignored") << "rx w?"
                                    << "RW";
}

void TestAuthorizer::lettersRoundTrip() {
    QFETCH(QString, given);
    QFETCH(QString, letters);
    QCOMPARE(Rights::fromLetters(given).letters(), letters);
    QCOMPARE(Rights::fromLetters(letters), Rights::fromLetters(given));
}

QTEST_GUILESS_MAIN(TestAuthorizer)
#include "test_authorizer.moc"
