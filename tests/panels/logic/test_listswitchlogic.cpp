// The address lists' switches without a window: shown as the settings view
// holds them, saved at once (the row's own pending edits first, none lost).

#include "access/DataView.h"
#include "panels/logic/ListSwitchLogic.h"
#include "settings/OptionCatalog.h"
#include "tests/support/OptionsFixture.h"

#include <QTest>

using namespace Qt::StringLiterals;
using kv::access::AddressList;
using kv::admin::ListSwitchLogic;

class TestListSwitchLogic : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shownAsTheViewHoldsThem_data() {
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("shown"); // allow, block: 1, 0 or "-" (null: greyed)
        QTest::newRow("off") << u"UPDATE settings SET IPok = 0, IPko = 0"_s << u"00"_s;
        QTest::newRow("block on") << u"UPDATE settings SET IPok = 0, IPko = 1"_s << u"01"_s;
        QTest::newRow("null allow switch") << u"UPDATE s2 SET IPok = NULL"_s << u"-0"_s;
        QTest::newRow("no settings row") << u"DELETE FROM settings"_s << u"00"_s;
    }
    void shownAsTheViewHoldsThem() {
        QFETCH(QString, row);
        QFETCH(QString, shown);
        // An older file's row may hold nulls; a new one's columns refuse them.
        const QStringList nullable = {u"CREATE TABLE s2 AS SELECT * FROM settings"_s,
                                      u"DROP TABLE settings"_s};
        kv::testing::OptionsFixture f(row.contains(u"s2"_s)
                                          ? nullable + QStringList{row, u"ALTER TABLE s2 RENAME "
                                                                        "TO settings"_s}
                                          : QStringList{row});
        f.views->openAll();
        const ListSwitchLogic logic(f.views->Data2(), f.db.connection());
        QString text;
        for (const AddressList list : {AddressList::Allow, AddressList::Block}) {
            const std::optional<bool> on = logic.shown(list);
            text += on ? QString::number(int(*on)) : u"-"_s;
        }
        QCOMPARE(text, shown);
    }

    // The switch reaches the file at once; a settings edit still pending on
    // the row is saved with it rather than lost when the row is read again.
    void savedAtOnceKeepingPendingEdits() {
        kv::testing::OptionsFixture f;
        f.views->openAll();
        kv::access::DataView& row = f.views->Data2();
        ListSwitchLogic logic(row, f.db.connection());
        QVERIFY(row.Edit() && row.setField(kv::settings::setting::kPort, 2121));
        QCOMPARE(logic.save(AddressList::Allow, true), std::nullopt);
        QCOMPARE(kv::testing::texts(
                     kv::testing::column(f.path, u"SELECT port || IPok || IPko FROM settings"_s)),
                 QStringList{u"212110"_s});
        QVERIFY(!row.isDirty());
        QCOMPARE(logic.shown(AddressList::Allow), std::optional(true));
        QVERIFY(logic.isOn(AddressList::Allow));
        QCOMPARE(logic.save(AddressList::Allow, false), std::nullopt);
        QVERIFY(!logic.isOn(AddressList::Allow));
        QCOMPARE(row.Field(kv::settings::setting::kPort), u"2121"_s);
    }
};

QTEST_GUILESS_MAIN(TestListSwitchLogic)
#include "test_listswitchlogic.moc"
