#pragma once
// An action rule: on which event, for which account and which paths, run a
// program or send an e-mail. The fields are declared once here (name, kind,
// Italian caption) for the table, the command line and the panel, and so are
// the checks that refuse a rule with the same words everywhere.

#include "actions/ActionEvent.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace kv::actions {

enum class ActionKind { Run, Mail };

struct ActionRule {
    qint64 id = 0;
    QString event;
    QString user = QStringLiteral("*"); // a login, or * for any
    QString path;                       // a path pattern; empty: any
    ActionKind kind = ActionKind::Run;
    QString target; // the command line, or the addresses separated by commas
    bool enabled = true;
};

// The events a rule may name, in the order the panel offers them.
const QStringList& actionEventNames();
// Italian, e.g. "File ricevuto" for upload.
QString eventCaption(const QString& event);

// "run" or "mail".
QString kindName(ActionKind kind);
std::optional<ActionKind> kindFromName(const QString& name);

// The Italian reason the rule cannot be kept, or nothing. The text fields are
// taken trimmed (normalizedRule does that first).
std::optional<QString> checkRule(const ActionRule& rule);
ActionRule normalizedRule(ActionRule rule);

// The program and its arguments: words split as QProcess::splitCommand does
// (double quotes group words; nothing else is interpreted).
QStringList commandWords(const QString& commandLine);
// The addresses of a mail rule, split at commas and trimmed.
QStringList mailAddresses(const QString& target);
bool isMailAddress(const QString& address);

// Whether an enabled `rule` wants `event`.
bool ruleMatches(const ActionRule& rule, const ActionEvent& event);

} // namespace kv::actions
