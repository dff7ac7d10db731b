// The authorizer through its public calls: no login, and the rights' letter
// form (every operation against the rights: the file service's table).

#include "files/Authorizer.h"

#include <QTest>

using namespace kv::files;
using namespace Qt::StringLiterals;

class TestAuthorizer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void noLoginIsAlwaysRefused() {
        for (int op = int(FileOperation::ChangeDir); op <= int(FileOperation::Checksum); ++op)
            QVERIFY(!isAllowed(nullptr, FileOperation(op)));
    }

    void lettersRoundTrip_data() {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("letters");
        QTest::newRow("none") << QString() << QString();
        QTest::newRow("order is fixed") << u"bmr"_s << u"RBM"_s;
        QTest::newRow("all") << u"MBDWR"_s << u"RWDBM"_s;
        QTest::newRow("others ignored") << u"rx w?"_s << u"RW"_s;
    }

    void lettersRoundTrip() {
        QFETCH(QString, given);
        QFETCH(QString, letters);
        QCOMPARE(Rights::fromLetters(given).letters(), letters);
        QCOMPARE(Rights::fromLetters(letters), Rights::fromLetters(given));
    }
};

QTEST_GUILESS_MAIN(TestAuthorizer)
#include "test_authorizer.moc"
