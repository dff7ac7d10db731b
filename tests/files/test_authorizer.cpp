// The authorizer without a login (every operation against the rights: the
// file service's table; the rights' letter form: the login handler's).

#include "files/Authorizer.h"

#include <QTest>

using namespace kv::files;

class TestAuthorizer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void noLoginIsAlwaysRefused() {
        for (int op = int(FileOperation::ChangeDir); op <= int(FileOperation::Checksum); ++op)
            QVERIFY(!isAllowed(nullptr, FileOperation(op)));
    }
};

QTEST_GUILESS_MAIN(TestAuthorizer)
#include "test_authorizer.moc"
