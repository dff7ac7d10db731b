// Builds the actions group of the Impostazioni panel and passes its changes on.
#include "panels/ui/ActionsGroup.h"

#include "access/AccountDatabase.h"
#include "panels/logic/OptionEdit.h"
#include "panels/ui/CheckedBox.h"
#include "panels/ui/PanelHost.h"
#include "panels/ui/PanelParts.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <algorithm>

namespace kv::ui {

namespace {
constexpr int kListRows = 4;
constexpr int kBoxWidth = 150;
} // namespace

ActionsGroup::ActionsGroup(QWidget* panel, PanelHost& host, int& top)
    : QObject(panel), host_(host), panel_(panel), logic_(host.connection(), host.views().options()),
      sender_(this) {
    setObjectName(QStringLiteral("ActionsGroup"));
    addTitle(panel, QStringLiteral("Azioni all'arrivo dei file"), top);
    addText(panel,
            QStringLiteral("Quando arriva un file (o avviene un altro evento) il server può "
                           "avviare un programma o mandare un'e-mail che raccoglie gli eventi. "
                           "Le azioni si salvano subito."),
            top);
    list_ = addRowList(panel, admin::ActionRulesLogic::columns(), QStringLiteral("GridActions"),
                       kListRows, top);
    connect(list_, &QTableWidget::cellDoubleClicked, this, [this] { edit(selected()); });
    buildButtons(panel, top);
    buildMail(panel, top);
    refresh();
}

void ActionsGroup::buildButtons(QWidget* panel, int& top) {
    QWidget* row = addGroup(panel, QStringLiteral("picActionButtons"), -1, kButtonHeight, top);
    const struct {
        const char* name;
        QString text;
    } buttons[] = {{"cmdActionAdd", QStringLiteral("Aggiungi")},
                   {"cmdActionEdit", QStringLiteral("Modifica")},
                   {"cmdActionDelete", QStringLiteral("Elimina")},
                   {"cmdActionToggle", QStringLiteral("Attiva/Disattiva")}};
    QPushButton* made[4];
    for (int i = 0; i < 4; ++i)
        made[i] = makeButton(row, QLatin1String(buttons[i].name), buttons[i].text, i * 95, 0, 90);
    // Each as wide as its text needs ("Attiva/Disattiva" is the longest).
    fitButtonRow({made[0], made[1], made[2], made[3]}, 80);
    connect(made[0], &QPushButton::clicked, this, [this] { edit(std::nullopt); });
    connect(made[1], &QPushButton::clicked, this, [this] {
        if (const auto rule = selected())
            edit(rule);
    });
    connect(made[2], &QPushButton::clicked, this, [this] {
        const auto rule = selected();
        if (!rule || !host_.messages().confirm(admin::ActionRulesLogic::deleteQuestion(*rule)))
            return;
        if (const auto refusal = logic_.remove(rule->id))
            host_.messages().show(*refusal, MessageIcon::Exclamation);
        refresh();
    });
    connect(made[3], &QPushButton::clicked, this, [this] {
        const auto rule = selected();
        if (!rule)
            return;
        if (const auto refusal = logic_.setEnabled(rule->id, !rule->enabled))
            host_.messages().show(*refusal, MessageIcon::Exclamation);
        refresh();
    });
}

void ActionsGroup::buildMail(QWidget* panel, int& top) {
    addText(panel, QStringLiteral("Server di posta per le e-mail delle azioni"), top);
    access::OptionsTable& table = host_.views().options();
    for (const QString& option : admin::ActionRulesLogic::options()) {
        QLineEdit* box = addOptionBox(panel, option, logic_.caption(option), kBoxWidth, top);
        auto* checked = new CheckedBox(
            this, box, addReasonLine(panel, option, top), admin::optionApplier(table, option),
            admin::optionShower(table, option), [this] { host_.relayout(); });
        if (option == settings::option::kMailPassword) {
            // Never shown back: the box stays empty and says whether one is kept.
            box->setEchoMode(QLineEdit::Password);
            const auto mask = [this, box, option] {
                box->setPlaceholderText(logic_.isSet(option) ? QStringLiteral("(impostata)")
                                                             : QString());
            };
            connect(checked, &CheckedBox::changed, box, mask);
            mask();
        }
        boxes_.append(checked);
    }
    QWidget* row = addGroup(panel, QStringLiteral("picMailTest"), -1, kButtonHeight, top);
    testAddress_ = makeBox(row, QStringLiteral("txtMailTest"), 0, 0, kBoxWidth + 60);
    testAddress_->setPlaceholderText(QStringLiteral("indirizzo@esempio.it"));
    testButton_ = makeButton(row, QStringLiteral("cmdMailTest"),
                             QStringLiteral("Invia e-mail di prova"), kBoxWidth + 68, 0, 150);
    testButton_->resize(std::max(150, testButton_->sizeHint().width()), kButtonHeight);
    connect(testButton_, &QPushButton::clicked, this, [this] {
        testButton_->setEnabled(false);
        const auto refusal = logic_.sendTestMail(
            testAddress_->text().trimmed(), sender_, [this](const QString& text, bool ok) {
                testButton_->setEnabled(true);
                host_.messages().show(text,
                                      ok ? MessageIcon::Information : MessageIcon::Exclamation);
            });
        if (refusal) {
            testButton_->setEnabled(true);
            host_.messages().show(*refusal, MessageIcon::Exclamation);
        }
    });
}

void ActionsGroup::refresh() {
    const actions::RuleList list = logic_.rules();
    rules_ = list.rules;
    list_->clearSelection();
    list_->setRowCount(0);
    list_->setRowCount(int(rules_.size()));
    for (int r = 0; r < rules_.size(); ++r) {
        const QStringList cells = admin::ActionRulesLogic::row(rules_[r]);
        for (int c = 0; c < cells.size(); ++c)
            list_->setItem(r, c, new QTableWidgetItem(cells[c]));
    }
    for (CheckedBox* box : std::as_const(boxes_))
        box->reload();
    if (!list.error.isEmpty())
        host_.messages().show(list.error, MessageIcon::Exclamation);
}

std::optional<actions::ActionRule> ActionsGroup::selected() const {
    const QList<QTableWidgetItem*> chosen = list_->selectedItems();
    if (chosen.isEmpty() || chosen.first()->row() >= rules_.size())
        return std::nullopt;
    return rules_[chosen.first()->row()];
}

void ActionsGroup::edit(std::optional<actions::ActionRule> existing) {
    QDialog dialog(panel_);
    dialog.setObjectName(QStringLiteral("frmAction"));
    dialog.setWindowTitle(existing ? QStringLiteral("Modifica azione")
                                   : QStringLiteral("Nuova azione"));
    auto* form = new QFormLayout(&dialog);
    auto* event = new QComboBox(&dialog);
    event->setObjectName(QStringLiteral("cboEvent"));
    for (const QString& name : actions::actionEventNames())
        event->addItem(admin::ActionRulesLogic::eventChoice(name), name);
    auto* user = new QLineEdit(&dialog);
    user->setObjectName(QStringLiteral("txtUser"));
    user->setPlaceholderText(QStringLiteral("* = tutti gli account"));
    auto* path = new QLineEdit(&dialog);
    path->setObjectName(QStringLiteral("txtPath"));
    path->setPlaceholderText(QStringLiteral("/scansioni/*.pdf (vuoto = tutti)"));
    auto* run = new QRadioButton(QStringLiteral("Avvia un programma"), &dialog);
    auto* mail = new QRadioButton(QStringLiteral("Manda un'e-mail"), &dialog);
    auto* target = new QLineEdit(&dialog);
    target->setObjectName(QStringLiteral("txtTarget"));
    form->addRow(QStringLiteral("Evento"), event);
    form->addRow(QStringLiteral("Account"), user);
    form->addRow(QStringLiteral("Percorso"), path);
    form->addRow(run);
    form->addRow(mail);
    form->addRow(QStringLiteral("Programma o indirizzi"), target);
    auto* hint = new QLabel(
        QStringLiteral("Il programma parte senza shell: le virgolette doppie raggruppano le "
                       "parole, $HOME, ; e | arrivano al programma così come sono."),
        &dialog);
    hint->setWordWrap(true);
    form->addRow(hint);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(buttons);
    const actions::ActionRule start = existing.value_or(actions::ActionRule{});
    event->setCurrentIndex(std::max(0, event->findData(start.event)));
    user->setText(start.user);
    path->setText(start.path);
    (start.kind == actions::ActionKind::Run ? run : mail)->setChecked(true);
    target->setText(start.target);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        actions::ActionRule rule = start;
        rule.event = event->currentData().toString();
        rule.user = user->text();
        rule.path = path->text();
        rule.kind = run->isChecked() ? actions::ActionKind::Run : actions::ActionKind::Mail;
        rule.target = target->text();
        std::optional<QString> refusal;
        if (existing) {
            refusal = logic_.update(rule);
        } else if (const auto added = logic_.add(rule); std::holds_alternative<QString>(added)) {
            refusal = std::get<QString>(added);
        }
        if (refusal) {
            host_.messages().show(*refusal, MessageIcon::Exclamation);
            return; // the dialog stays open with what was typed
        }
        dialog.accept();
    });
    dialog.exec();
    refresh();
}

} // namespace kv::ui
