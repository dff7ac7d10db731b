#pragma once
// The behaviour of the "Azioni all'arrivo dei file" group, free of widgets:
// the list of rules with add, edit, delete and switch (written at once, with
// the command line's checks and words), the mail server's options (checked
// through the catalog and kept pending like the other settings; the password
// never shown back) and the test e-mail.

#include "access/OptionsTable.h"
#include "actions/ActionRulesTable.h"
#include "actions/SmtpClient.h"

#include <QSqlDatabase>
#include <QStringList>
#include <functional>
#include <optional>
#include <variant>

namespace kv::admin {

class ActionRulesLogic {
public:
    ActionRulesLogic(const QSqlDatabase& db, access::OptionsTable& options);

    // "N.", "Evento", "Account", "Percorso", "Azione", "Attiva"
    static const QStringList& columns();
    // The rules, and the reason when the table cannot be read.
    actions::RuleList rules() const;
    // One row of the list for `rule`, in the order of columns().
    static QStringList row(const actions::ActionRule& rule);
    // The event as the list names it in Italian ("caricamento" for upload);
    // the rule keeps the command line's word.
    static QString eventName(const QString& event);
    // The event list's entry in the rule dialog: "caricamento (file ricevuto)".
    static QString eventChoice(const QString& event);

    std::variant<qint64, QString> add(const actions::ActionRule& rule);
    std::optional<QString> update(const actions::ActionRule& rule);
    std::optional<QString> remove(qint64 id);
    std::optional<QString> setEnabled(qint64 id, bool enabled);
    // The question asked before a rule is deleted.
    static QString deleteQuestion(const actions::ActionRule& rule);

    // The options of the group, in the order the panel shows them.
    static const QStringList& options();
    QString caption(const QString& option) const;
    // The box's text; a write-only option always shows empty.
    QString shown(const QString& option) const;
    // Whether a write-only option holds a value (the box says so in grey).
    bool isSet(const QString& option) const;
    // A box's new text: nothing when accepted, else the catalog's reason. An
    // empty password box leaves the password as it was.
    std::optional<QString> change(const QString& option, const QString& text);

    // Sends a test message with the options as they stand (pending edits
    // included) on a worker thread of `sender`; `done` gets the text to show
    // and whether it went. Returns the reason when nothing could be sent.
    std::optional<QString> sendTestMail(const QString& address, actions::MailSender& sender,
                                        std::function<void(const QString&, bool)> done) const;

private:
    actions::ActionRulesTable table_;
    access::OptionsTable& options_;
    QString dataFolder_; // where a relative mail_ca_file lives
};

} // namespace kv::admin
