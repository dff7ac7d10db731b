#pragma once
// How the command line prints lists: an aligned table for people, or JSON
// (an array of objects with the same column names) for scripts.

#include <QList>
#include <QStringList>
#include <QTextStream>

namespace kv::cli {

struct CliTable {
    QStringList columns;
    QList<QStringList> rows;
};

void printTable(QTextStream& out, const CliTable& table, bool json);

} // namespace kv::cli
