// The question of the plain menu entry: its two answers and "Non chiedere più".
#include "window/StartFolderQuestion.h"

#include <QCheckBox>
#include <QPushButton>
#include <QtTest>

using namespace Qt::StringLiterals;
using namespace kv;

class TestStartFolderQuestion : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void answers_data() {
        QTest::addColumn<bool>("service");
        QTest::addColumn<bool>("ticked");
        QTest::newRow("the service's, kept") << true << true;
        QTest::newRow("one's own, asked again") << false << false;
    }
    void answers() {
        QFETCH(bool, service);
        QFETCH(bool, ticked);
        ui::StartFolderQuestion question;
        QVERIFY(question.text().contains(u"Aprire il server del servizio o il proprio server?"_s));
        QCOMPARE(question.serviceButton()->text().remove(u'&'), u"Server del servizio"_s);
        QCOMPARE(question.ownButton()->text().remove(u'&'), u"Il proprio server"_s);
        QCOMPARE(question.dontAskAgain()->text(), u"Non chiedere più"_s);
        QVERIFY(question.dontAskAgain()->isChecked()); // asked once, unless unticked
        question.dontAskAgain()->setChecked(ticked);
        question.show();
        (service ? question.serviceButton() : question.ownButton())->click();
        QVERIFY(!question.isVisible());
        const ui::StartFolderAnswer answer = question.answer();
        QCOMPARE(answer.folder, service ? StartFolder::Service : StartFolder::Own);
        QCOMPARE(answer.remember, ticked);
    }

    void escapeChoosesOnesOwn() {
        ui::StartFolderQuestion question;
        question.show();
        QVERIFY(QTest::qWaitForWindowExposed(&question));
        QTest::keyClick(&question, Qt::Key_Escape);
        QCOMPARE(question.answer().folder, StartFolder::Own);
    }
};

QTEST_MAIN(TestStartFolderQuestion)
#include "test_startfolderquestion.moc"
