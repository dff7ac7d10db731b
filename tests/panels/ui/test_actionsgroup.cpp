// The actions group driven through its controls on a temporary accounts.dat.

#include "panels/ui/ActionsGroup.h"
#include "tests/support/PanelFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>

using namespace Qt::StringLiterals;
using kv::ui::ActionsGroup;

namespace {

ActionsGroup* buildGroup(QWidget* panel, kv::ui::PanelHost& host) {
    int top = 0;
    return new ActionsGroup(panel, host, top);
}

const QString kTwoRules =
    u"INSERT INTO actions (event, user, path, kind, target) VALUES "
    "('upload', 'scanner', '/scansioni/*.pdf', 'run', '/usr/local/bin/archivia'), "
    "('upload', '*', '', 'mail', 'ufficio@example.org')"_s;

} // namespace

class TestActionsGroup : public QObject {
    Q_OBJECT

    kv::testing::PanelFixture<ActionsGroup> f{&buildGroup};
    QTableWidget* grid() { return f.child<QTableWidget>(u"GridActions"_s); }
    QStringList cells(int row) {
        QStringList texts;
        for (int column = 0; column < grid()->columnCount(); ++column)
            texts << grid()->item(row, column)->text();
        return texts;
    }

private Q_SLOTS:
    void cleanup() { f.reset(); }

    void listsDeletesAfterAskingAndSwitches() {
        f.build({kTwoRules});
        QCOMPARE(grid()->rowCount(), 2);
        // The events in Italian; the table keeps the command line's words.
        QCOMPARE(cells(0), (QStringList{"1", "caricamento", "scanner", "/scansioni/*.pdf",
                                        "Avvia: /usr/local/bin/archivia", "Sì"}));
        QCOMPARE(cells(1), (QStringList{"2", "caricamento", "*", "(tutti)",
                                        "E-mail a: ufficio@example.org", "Sì"}));
        grid()->selectRow(1);
        f.click(u"cmdActionToggle"_s);
        QCOMPARE(f.column(u"SELECT enabled FROM actions ORDER BY id"_s),
                 (QStringList{u"1"_s, u"0"_s}));
        QCOMPARE(grid()->item(1, 5)->text(), u"No"_s);
        grid()->selectRow(0);
        f.host->recorder.answer = false;
        f.click(u"cmdActionDelete"_s);
        QCOMPARE(f.host->recorder.asked,
                 QStringList{
                     u"Eliminare l'azione 1 (File ricevuto, Avvia: /usr/local/bin/archivia)?"_s});
        QCOMPARE(f.column(u"SELECT count(*) FROM actions"_s), QStringList{u"2"_s});
        f.host->recorder.answer = true;
        f.click(u"cmdActionDelete"_s);
        QCOMPARE(f.column(u"SELECT id FROM actions"_s), QStringList{u"2"_s});
        QCOMPARE(grid()->rowCount(), 1);
    }

    void theDialogRefusesABadRuleAndStaysOpen() {
        f.build();
        bool stayedOpen = false;
        QStringList eventChoices;
        // The modal dialog answered once it shows; a guard closes it so the test never hangs.
        QTimer::singleShot(0, this, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            auto* event = dialog->findChild<QComboBox*>(u"cboEvent"_s);
            eventChoices.clear();
            for (int i = 0; i < event->count(); ++i)
                eventChoices << event->itemText(i);
            event->setCurrentIndex(0);
            dialog->findChild<QLineEdit*>(u"txtUser"_s)->setText(u"fornitore"_s);
            dialog->findChild<QLineEdit*>(u"txtPath"_s)->setText(u"/ordini/**"_s);
            const auto radios = dialog->findChildren<QRadioButton*>();
            radios.last()->setChecked(true); // e-mail
            auto* target = dialog->findChild<QLineEdit*>(u"txtTarget"_s);
            auto* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
            target->setText(u"ufficio"_s);
            ok->click();
            stayedOpen = dialog->isVisible();
            target->setText(u"ufficio@example.org"_s);
            ok->click();
        });
        QTimer::singleShot(3000, this, [] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                dialog->reject();
        });
        f.click(u"cmdActionAdd"_s);
        QVERIFY(stayedOpen);
        QCOMPARE(eventChoices.first(), u"caricamento (file ricevuto)"_s);
        QCOMPARE(eventChoices.size(), 12);
        QCOMPARE(eventChoices.at(9),
                 u"amministrazione remota (accesso all'amministrazione remota)"_s);
        QCOMPARE(
            eventChoices.last(),
            u"certificato non rinnovato (certificato automatico non ottenuto o in scadenza)"_s);
        QCOMPARE(f.host->recorder.texts(),
                 QStringList{u"Indirizzo e-mail non valido: \"ufficio\""_s});
        QCOMPARE(f.column(u"SELECT event || ' ' || user || ' ' || path || ' ' || kind || ' ' || "
                          "target FROM actions"_s),
                 QStringList{u"upload fornitore /ordini/** mail ufficio@example.org"_s});
        QCOMPARE(grid()->rowCount(), 1);
        QCOMPARE(grid()->item(0, 1)->text(), u"caricamento"_s);
    }

    // Each button is as wide as its text needs, inside its row and clear of
    // the next one, at the panel's design width ("Attiva/Disattiva" was cut).
    void buttonsFitTheirText() {
        f.build();
        const QList<QPushButton*> buttons = f.panel->findChildren<QPushButton*>();
        QVERIFY(buttons.size() >= 5);
        for (QPushButton* button : buttons) {
            QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(button->text()));
            QVERIFY2(button->parentWidget()->rect().contains(button->geometry()),
                     qPrintable(button->text()));
            for (QPushButton* other : buttons) {
                if (other != button && other->parentWidget() == button->parentWidget())
                    QVERIFY2(!other->geometry().intersects(button->geometry()),
                             qPrintable(button->text() + u" / "_s + other->text()));
            }
        }
    }

    // The password is never shown back; the test button says why nothing was sent.
    void mailPasswordAndTestButton() {
        f.build();
        auto* password = f.child<QLineEdit>(u"txt_mail_password"_s);
        QCOMPARE(password->echoMode(), QLineEdit::Password);
        password->setText(u"s3greto"_s);
        kv::testing::leaveBox(password);
        QCOMPARE(password->text(), QString());
        QCOMPARE(password->placeholderText(), u"(impostata)"_s);
        // A refused server name stays in its box with the reason, nothing kept.
        auto* server = f.child<QLineEdit>(u"txt_mail_server"_s);
        server->setText(u"mail server"_s);
        kv::testing::leaveBox(server);
        QCOMPARE(server->text(), u"mail server"_s);
        QCOMPARE(f.child<QLabel>(u"lblRefusal_mail_server"_s)->text(),
                 u"Opzione mail_server: mail server non è un server (host oppure host:porta)"_s);
        QVERIFY(f.host->recorder.shown.isEmpty());
        f.host->core().views().commitAll();
        QCOMPARE(f.column(u"SELECT value FROM options WHERE name = 'mail_password'"_s),
                 QStringList{u"s3greto"_s});
        f.child<QLineEdit>(u"txtMailTest"_s)->setText(u"prova@example.org"_s);
        f.click(u"cmdMailTest"_s);
        QCOMPARE(f.host->recorder.texts(),
                 QStringList{u"Server di posta non impostato (opzione mail_server)"_s});
        QVERIFY(f.child<QPushButton>(u"cmdMailTest"_s)->isEnabled());
    }
};

QTEST_MAIN(TestActionsGroup)
#include "test_actionsgroup.moc"
