#pragma once
// The "Azioni all'arrivo dei file" group of the Impostazioni panel: thin
// widgets over ActionRulesLogic. The list of rules with Aggiungi, Modifica,
// Elimina (after a question) and Attiva/Disattiva, the mail server's boxes
// (checked as every settings box is: CheckedBox), and
// "Invia e-mail di prova", whose answer is shown when the server gives it.

#include "panels/logic/ActionRulesLogic.h"

#include <QList>
#include <QObject>

class QLineEdit;
class QPushButton;
class QTableWidget;
class QWidget;

namespace kv::ui {

class CheckedBox;
class PanelHost;

class ActionsGroup : public QObject {
    Q_OBJECT
public:
    // Builds the controls into `panel` from `top` (advanced past them).
    ActionsGroup(QWidget* panel, PanelHost& host, int& top);

    void refresh();
    // The rule of the selected row, if any.
    std::optional<actions::ActionRule> selected() const;

private:
    void buildButtons(QWidget* panel, int& top);
    void buildMail(QWidget* panel, int& top);
    void edit(std::optional<actions::ActionRule> rule);

    PanelHost& host_;
    QWidget* panel_;
    admin::ActionRulesLogic logic_;
    actions::MailSender sender_;
    QList<actions::ActionRule> rules_;
    QTableWidget* list_ = nullptr;
    QList<CheckedBox*> boxes_;
    QLineEdit* testAddress_ = nullptr;
    QPushButton* testButton_ = nullptr;
};

} // namespace kv::ui
