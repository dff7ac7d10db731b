#pragma once
// The actions when something happens on the server: listens to the bus,
// reads the enabled rules at each event (so a rule added from the command
// line counts at once), starts the programs of `run` rules and gathers the
// events of `mail` rules into batches. Never blocks the event loop and never
// touches an FTP session.

#include "actions/ActionRulesTable.h"
#include "actions/MailBatcher.h"
#include "actions/ProgramRunner.h"
#include "actions/SmtpClient.h"
#include "events/ServerEvents.h"
#include "settings/OptionCatalog.h"

#include <QObject>
#include <functional>

namespace kv::actions {

class ActionService : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(const QString& line)>;
    using Options = std::function<settings::OptionSet()>;

    // `rules`: reads the rule table; `options`: the options as they stand;
    // `dataFolder`: where a program runs for an event without a file.
    ActionService(std::function<RuleList()> rules, Options options, Log log,
                  const QString& dataFolder, QObject* parent = nullptr);

    void subscribe(events::ServerEvents& bus);
    // Acts on one event now.
    void handle(const ActionEvent& event);

    ProgramRunner& runner() { return runner_; }
    MailBatcher& batcher() { return batcher_; }

private:
    std::function<RuleList()> rules_;
    Options options_;
    Log log_;
    ProgramRunner runner_;
    MailSender sender_;
    MailBatcher batcher_;
};

} // namespace kv::actions
