#pragma once
// The part of a panel host that only passes questions on to the program
// core: the account views, the database connection and the server's address, the data folder, the
// certificate steps and the file picker. The main window and the panel tests' stand-in share it and
// add the rest (messages, folder picker, layout, online selection).

#include "core/CoreFwd.h"
#include "panels/ui/PanelHost.h"

namespace kv::ui {

class CorePanelHost : public PanelHost {
public:
    explicit CorePanelHost(ProgramCore& core) : hostCore_(core) {}

    access::AccountViews& views() override;
    QSqlDatabase connection() const override;
    bool serverRunning() const override;
    QString listeningAddress() const override;
    QString defaultLocalAddress() const override;
    QString BrowseForFile(QWidget* owner, const QString& prompt, const QString& current) override;
    QString BrowseForLocalFile(QWidget* owner, const QString& prompt,
                               const QString& current) override;
    QString dataFolder() const override;
    const CertificateTools& certificateTools() const override;
    session::LoginBans* loginBans() override;
    // The window's own core's keeper answers.
    void askAcme(bool renew, std::function<void(const QJsonObject&)> answer) override;

private:
    ProgramCore& hostCore_;
};

} // namespace kv::ui
