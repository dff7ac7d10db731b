// The account panel inside the main window: its detail groups follow the
// current account across a server run, as the window re-applies the rule when
// the server stops.

#include "tests/support/WindowHarness.h"

#include <QCheckBox>
#include <QPushButton>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestAccountGroupsInWindow : public QObject {
    Q_OBJECT

    static QList<QWidget*> accountGroups(QWidget* window) {
        QList<QWidget*> groups;
        for (QWidget* group : window->findChildren<QWidget*>(u"picDetails"_s)) {
            const int index = group->property("kvIndex").toInt();
            if (index <= 3 || index == 7)
                groups.append(group);
        }
        return groups;
    }
    static bool allEnabled(const QList<QWidget*>& groups, bool enabled) {
        return std::all_of(groups.begin(), groups.end(),
                           [enabled](QWidget* g) { return g->isEnabled() == enabled; });
    }

private Q_SLOTS:
    void groupsFollowTheAccountsAfterAServerStop() {
        kv::testing::WindowHarness h;
        kv::ui::Form1& window = h.started();
        const QList<QWidget*> groups = accountGroups(&window);
        QCOMPARE(groups.size(), 5);
        QVERIFY(allEnabled(groups, false));

        window.toolbarClick(u"kStart"_s);
        QCOMPARE(h.core->server().ServerState(), qint16(1));
        auto* add = window.findChild<QPushButton*>(u"cmdAdd"_s);
        QVERIFY(!add->isEnabled()); // the panel takes no input while the server runs
        // An account arrives while the server runs (another cursor's save).
        kv::access::DataView& users = h.core->views().Data1();
        QVERIFY(users.AddNew());
        QVERIFY(users.setField(u"login"_s, u"nuovo"_s));
        QVERIFY(users.Update());
        users.MoveToLastModified();
        QVERIFY(allEnabled(groups, false));

        window.toolbarClick(u"kStop"_s);
        QVERIFY(allEnabled(groups, true));
        QVERIFY(window.findChild<QCheckBox*>(u"chkAnonymous"_s)->isEnabled());

        add->click();
        window.findChild<QPushButton*>(u"cmdDelete"_s)->click();
        window.findChild<QPushButton*>(u"cmdDelete"_s)->click();
        QVERIFY(allEnabled(groups, false));
        window.toolbarClick(u"kStart"_s);
        window.toolbarClick(u"kStop"_s);
        QVERIFY(allEnabled(groups, false));
    }
};

QTEST_MAIN(TestAccountGroupsInWindow)
#include "test_accountgroupsinwindow.moc"
