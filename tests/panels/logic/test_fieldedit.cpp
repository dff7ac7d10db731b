// One settings box's edit without a window: what it shows, what it keeps in
// the options table and why it refuses, over a fresh accounts.dat.

#include "panels/logic/FieldEdit.h"
#include "panels/logic/OptionEdit.h"
#include "tests/support/OptionsFixture.h"

#include <QTest>

using namespace Qt::StringLiterals;
using kv::admin::FieldEdit;

namespace {

struct Fixture : kv::testing::OptionsFixture {
    FieldEdit edit;
    Fixture(const QString& option, const QStringList& rows)
        : OptionsFixture(rows), edit(kv::admin::optionApplier(views->options(), option),
                                     kv::admin::optionShower(views->options(), option)) {
        edit.give(edit.text()); // as a box does when it is built
    }
    QString pending(const QString& option) const {
        return views->options().pending().value(option, u"(none)"_s);
    }
};

const QString kNone = u"(none)"_s;

} // namespace

class TestFieldEdit : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A text is judged when the box is left: accepted, it shows in its normal
    // form and is kept; refused, it stays with the catalog's reason and the
    // option keeps what it had.
    void leavingJudgesTheText_data() {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("pending");
        const QString port =
            u"Opzione sftp_port: %1 non è una porta valida (1-65535, 0 = nessuna)"_s;
        QTest::newRow("accepted in its normal form")
            << QStringList() << u"sftp_port"_s << u" 02222 "_s << u"2222"_s << QString()
            << u"2222"_s;
        QTest::newRow("out of range stays") << QStringList() << u"sftp_port"_s << u"70000"_s
                                            << u"70000"_s << port.arg(u"70000"_s) << kNone;
        QTest::newRow("a word stays") << QStringList() << u"sftp_port"_s << u"ssh"_s << u"ssh"_s
                                      << port.arg(u"ssh"_s) << kNone;
        QTest::newRow("empty means the default, as stored")
            << QStringList() << u"log_keep"_s << QString() << u"5"_s << QString() << kNone;
        QTest::newRow("a clash with another option")
            << QStringList{u"INSERT OR REPLACE INTO options VALUES ('tls_max_version', '1.2')"_s}
            << u"tls_min_version"_s << u"1.3"_s << u"1.3"_s
            << u"Opzioni tls_min_version e tls_max_version: la versione minima (1.3) è più alta "
               u"della massima (1.2)"_s
            << kNone;
        QTest::newRow("write-only: kept, never shown back")
            << QStringList() << u"mail_password"_s << u"s3greto"_s << QString() << QString()
            << u"s3greto"_s;
    }
    void leavingJudgesTheText() {
        QFETCH(QStringList, rows);
        QFETCH(QString, option);
        QFETCH(QString, typed);
        Fixture f(option, rows);
        f.edit.type(typed);
        QVERIFY(!f.edit.refused()); // not called wrong while being typed
        f.edit.leave();
        QTEST(f.edit.text(), "shown");
        QTEST(f.edit.reason(), "reason");
        QTEST(f.pending(option), "pending");
        QCOMPARE(f.edit.editing(), f.edit.refused());
    }

    // Typing over a value left earlier: each accepted text is kept at once,
    // a refused one puts the value held back, and Esc shows it again.
    void aRefusedTextKeepsTheValueHeld() {
        Fixture f(u"sftp_port"_s, {});
        f.edit.type(u"2"_s);
        QCOMPARE(f.pending(u"sftp_port"_s), u"2"_s);
        f.edit.type(u"2222"_s);
        f.edit.leave();
        QCOMPARE(f.edit.held(), u"2222"_s);
        f.edit.type(u"22"_s);
        f.edit.type(u"22x"_s);
        QCOMPARE(f.pending(u"sftp_port"_s), u"2222"_s); // not "22", half typed
        f.edit.leave();
        QCOMPARE(f.edit.text(), u"22x"_s);
        QVERIFY(f.edit.refused());
        // Corrected as it is typed: the mark goes at once.
        f.edit.type(u"22"_s);
        QVERIFY(!f.edit.refused());
        f.edit.type(u"22x"_s);
        f.edit.leave();
        f.edit.undo();
        QCOMPARE(f.edit.text(), u"2222"_s);
        QVERIFY(!f.edit.refused() && !f.edit.editing());
        QCOMPARE(f.pending(u"sftp_port"_s), u"2222"_s);
        f.edit.undo(); // nothing to undo: nothing changes
        QCOMPARE(f.edit.text(), u"2222"_s);
    }

    // The store's value shows when it changes, unless the operator is
    // editing; a stored value the catalog refuses shows marked, and is left
    // in the file as it is.
    void reloadWaitsForTheOperator() {
        Fixture f(u"sftp_port"_s, {u"UPDATE options SET value = 'abc' WHERE name = 'sftp_port'"_s});
        QCOMPARE(f.edit.text(), u"abc"_s);
        QCOMPARE(f.edit.reason(),
                 u"Opzione sftp_port: abc non è una porta valida (1-65535, 0 = nessuna)"_s);
        QCOMPARE(f.pending(u"sftp_port"_s), kNone);
        f.edit.type(u"22"_s);
        f.views->options().setPending(u"sftp_port"_s, u"33"_s);
        f.edit.reload();
        QCOMPARE(f.edit.text(), u"22"_s);
        f.edit.leave();
        f.views->options().setPending(u"sftp_port"_s, u"44"_s);
        f.edit.reload();
        QCOMPARE(f.edit.text(), u"44"_s);
        QCOMPARE(f.edit.held(), u"44"_s);
    }

    // An answer of no (the root's whole-disk question) shows the value held
    // again, unmarked, and keeps it.
    void declinedShowsTheValueHeld() {
        QString kept = u"a"_s;
        FieldEdit edit(
            [&](const QString& text, kv::admin::EditStep step) {
                if (step == kv::admin::EditStep::Leaving && text == u"no"_s)
                    return kv::admin::EditVerdict::declined();
                kept = text;
                return kv::admin::EditVerdict::kept();
            },
            [&] { return kept; });
        edit.type(u"no"_s);
        edit.leave();
        QCOMPARE(edit.text(), u"a"_s);
        QCOMPARE(kept, u"a"_s);
        QVERIFY(!edit.editing() && !edit.refused());
    }

    // A value chosen with a button is judged as a text typed and left: kept
    // when accepted, marked when refused, with the value held kept.
    void aPickIsTypedAndLeft() {
        Fixture f(u"sftp_port"_s, {});
        f.edit.pick(u"2222"_s);
        QCOMPARE(f.pending(u"sftp_port"_s), u"2222"_s);
        QVERIFY(!f.edit.editing() && !f.edit.refused());
        f.edit.pick(u"ssh"_s);
        QCOMPARE(f.edit.text(), u"ssh"_s);
        QVERIFY(f.edit.refused());
        QCOMPARE(f.pending(u"sftp_port"_s), u"2222"_s);
        f.edit.undo();
        QCOMPARE(f.edit.text(), u"2222"_s);
    }

    // A box that keeps only when left (a store written to the file at once)
    // writes nothing while the operator types, and keeps its mark until the
    // box is left again; moving to another row drops the edit.
    void keptOnlyWhenLeft() {
        QStringList written;
        QString stored = u"/a"_s;
        FieldEdit edit(
            [&](const QString& text, kv::admin::EditStep step) {
                if (step == kv::admin::EditStep::Given && text == stored)
                    return kv::admin::EditVerdict::kept();
                if (text.contains(u'x'))
                    return kv::admin::EditVerdict::refused(u"no x"_s);
                written << text;
                stored = text;
                return kv::admin::EditVerdict::kept();
            },
            [&] { return stored; }, FieldEdit::Keeping::WhenLeft);
        edit.type(u"/"_s);
        edit.type(u"/b"_s);
        QVERIFY(written.isEmpty());
        edit.leave();
        QCOMPARE(written, QStringList{u"/b"_s});
        edit.type(u"/x"_s);
        edit.leave();
        QCOMPARE(edit.reason(), u"no x"_s);
        edit.type(u"/c"_s);
        QCOMPARE(edit.reason(), u"no x"_s); // said again when left
        QCOMPARE(written, QStringList{u"/b"_s});
        stored = u"/other row"_s;
        edit.load();
        QCOMPARE(edit.text(), u"/other row"_s);
        QVERIFY(!edit.editing() && !edit.refused());
    }
};

QTEST_GUILESS_MAIN(TestFieldEdit)
#include "test_fieldedit.moc"
