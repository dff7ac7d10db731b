// What the window shows, written as JSON for tests that drive the real
// program without a screen to look at.
#include "window/Form1.h"

#include "window/LogPanel.h"
#include "window/OnlinePanel.h"

#include <QAction>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QTreeWidget>

namespace kv::ui {

namespace {
constexpr int kLogLinesWritten = 100;
} // namespace

void Form1::writeStateFile() const {
    QJsonArray rows;
    const QTreeWidget* list = online_->list();
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QJsonArray columns;
        for (int c = 0; c < list->columnCount(); ++c)
            columns.append(list->topLevelItem(i)->text(c));
        rows.append(columns);
    }
    QStringList lines = logPanel_->logText().split(QStringLiteral("\r\n"));
    if (lines.size() > kLogLinesWritten)
        lines = lines.mid(lines.size() - kLogLinesWritten);
    QJsonArray bans;
    for (const session::BanEntry& ban : online_->source()->bans())
        bans.append(ban.address);
    QJsonArray panels;
    for (int i = 0; i < 3; ++i)
        panels.append(picPanel_[i]->isEnabled());
    const QJsonObject state{{QStringLiteral("title"), windowTitle()},
                            {QStringLiteral("status"), statusText()},
                            {QStringLiteral("users"), usersText()},
                            {QStringLiteral("attached"), isAttached()},
                            {QStringLiteral("startEnabled"), kStart_->isEnabled()},
                            {QStringLiteral("startToolTip"), kStart_->toolTip()},
                            {QStringLiteral("stopEnabled"), kStop_->isEnabled()},
                            {QStringLiteral("stopToolTip"), kStop_->toolTip()},
                            {QStringLiteral("panelsEnabled"), panels},
                            {QStringLiteral("online"), rows},
                            {QStringLiteral("bans"), bans},
                            {QStringLiteral("log"), QJsonArray::fromStringList(lines)}};
    QSaveFile file(options_.stateFile);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(state).toJson(QJsonDocument::Indented));
        file.commit();
    }
}

} // namespace kv::ui
