#pragma once
// The words and options of one command-line subcommand, read without knowing
// what the subcommand means: positional words in order, options with a value
// ("--root DIR"), and switches ("--json").

#include <QMap>
#include <QSet>
#include <QStringList>

namespace kv::cli {

struct CliArguments {
    QStringList words;
    QMap<QString, QString> values;
    QSet<QString> switches;
    QString error; // Italian; set when the command line cannot be read

    bool has(const QString& name) const { return switches.contains(name) || values.contains(name); }
    QString value(const QString& name) const { return values.value(name); }
};

// `valued` names the options that take a value, `flags` the switches; any
// other "--word" is an error. "--" ends the options.
CliArguments readArguments(const QStringList& args, const QSet<QString>& valued,
                           const QSet<QString>& flags);

} // namespace kv::cli
