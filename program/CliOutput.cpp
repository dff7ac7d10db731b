#include "program/CliOutput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace kv::cli {

void printTable(QTextStream& out, const CliTable& table, bool json) {
    if (json) {
        QJsonArray array;
        for (const QStringList& row : table.rows) {
            QJsonObject object;
            for (int c = 0; c < table.columns.size(); ++c)
                object.insert(table.columns[c], row.value(c));
            array.append(object);
        }
        out << QJsonDocument(array).toJson(QJsonDocument::Indented);
        return;
    }
    QList<qsizetype> widths;
    for (const QString& column : table.columns)
        widths << column.size();
    for (const QStringList& row : table.rows)
        for (int c = 0; c < widths.size(); ++c)
            widths[c] = std::max(widths[c], row.value(c).size());
    auto line = [&](const QStringList& cells) {
        QString text;
        for (int c = 0; c < widths.size(); ++c) {
            const QString cell = cells.value(c);
            text += c + 1 < widths.size() ? cell.leftJustified(widths[c] + 2) : cell;
        }
        out << text << '\n';
    };
    line(table.columns);
    for (const QStringList& row : table.rows)
        line(row);
}

} // namespace kv::cli
