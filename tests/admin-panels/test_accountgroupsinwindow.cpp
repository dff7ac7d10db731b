// The account panel inside the main window: its detail groups follow the
// current account across a server run, as the window re-applies the rule when
// the server stops.

#include "admin/ui/AdminPanels.h"
#include "app/core/ProgramCore.h"
#include "app/settings/SettingsStore.h"
#include "app/ui/Form1.h"
#include "app/ui/StartNotice.h"
#include "tests/support/FakeEngine.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {
struct SilentMessages : kv::Messages {
    void show(const QString& text, kv::MessageIcon) override { shown.append(text); }
    QStringList shown;
};
} // namespace

class TestAccountGroupsInWindow : public QObject {
    Q_OBJECT

    QList<QWidget*> accountGroups(QWidget* window) {
        QList<QWidget*> groups;
        for (QWidget* group : window->findChildren<QWidget*>(QStringLiteral("picDetails"))) {
            const int index = group->property("kvIndex").toInt();
            if (index <= 3 || index == 7)
                groups.append(group);
        }
        return groups;
    }

private Q_SLOTS:
    void groupsFollowTheAccountsAfterAServerStop() {
        QTemporaryDir data;
        kv::MemorySettingsStore settings;
        kv::ProgramCore core(data.path(), settings,
                             [] { return std::make_unique<kv::testing::FakeEngine>(); });
        SilentMessages messages;
        kv::ui::Form1Options options;
        options.trayAvailable = false;
        options.desktopOpen = [](const QString&, const QString&) { return true; };
        options.showNotice = [](kv::ui::StartNotice&) {};
        kv::ui::Form1 window(core, messages, nullptr, options);
        window.show();
        window.Form_Activate();

        const QList<QWidget*> groups = accountGroups(&window);
        QCOMPARE(groups.size(), 5);
        for (QWidget* group : groups)
            QVERIFY(!group->isEnabled());

        window.toolbarClick(QStringLiteral("kStart"));
        QCOMPARE(core.server().ServerState(), qint16(1));
        auto* add = window.findChild<QPushButton*>(QStringLiteral("cmdAdd"));
        QVERIFY(!add->isEnabled()); // the panel takes no input while the server runs
        // An account arrives while the server runs (another cursor's save).
        kv::access::DataView& users = core.views().Data1();
        QVERIFY(users.AddNew());
        QVERIFY(users.setField(QStringLiteral("login"), QStringLiteral("nuovo")));
        QVERIFY(users.Update());
        users.MoveToLastModified();
        for (QWidget* group : groups)
            QVERIFY(!group->isEnabled());

        window.toolbarClick(QStringLiteral("kStop"));
        for (QWidget* group : groups)
            QVERIFY(group->isEnabled());
        QVERIFY(window.findChild<QCheckBox*>(QStringLiteral("chkAnonymous"))->isEnabled());

        add->click();
        window.findChild<QPushButton*>(QStringLiteral("cmdDelete"))->click();
        window.findChild<QPushButton*>(QStringLiteral("cmdDelete"))->click();
        for (QWidget* group : groups)
            QVERIFY(!group->isEnabled());
        window.toolbarClick(QStringLiteral("kStart"));
        window.toolbarClick(QStringLiteral("kStop"));
        for (QWidget* group : groups)
            QVERIFY(!group->isEnabled());
    }
};

QTEST_MAIN(TestAccountGroupsInWindow)
#include "test_accountgroupsinwindow.moc"
