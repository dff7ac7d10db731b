// Passes the panels' questions about accounts and the server on to the program core.
#include "panels/ui/CorePanelHost.h"

#include "adminchannel/AdminAcme.h"
#include "core/ProgramCore.h"

#include <QFileDialog>

namespace kv::ui {

access::AccountViews& CorePanelHost::views() {
    return hostCore_.views();
}

QSqlDatabase CorePanelHost::connection() const {
    return hostCore_.database().connection();
}

bool CorePanelHost::serverRunning() const {
    return hostCore_.server().ServerState() == 1;
}

QString CorePanelHost::listeningAddress() const {
    return hostCore_.server().shownAddress();
}

QString CorePanelHost::defaultLocalAddress() const {
    return hostCore_.DefaultLocalIP();
}

} // namespace kv::ui

namespace kv::ui {

QString CorePanelHost::BrowseForFile(QWidget* owner, const QString& prompt,
                                     const QString& current) {
    return QFileDialog::getOpenFileName(owner, prompt, current);
}

QString CorePanelHost::BrowseForLocalFile(QWidget* owner, const QString& prompt,
                                          const QString& current) {
    return QFileDialog::getOpenFileName(owner, prompt, current);
}

QString CorePanelHost::dataFolder() const {
    return hostCore_.dataFolder();
}

const CertificateTools& CorePanelHost::certificateTools() const {
    return hostCore_.certificateTools();
}

session::LoginBans* CorePanelHost::loginBans() {
    return &hostCore_.loginBans();
}

void CorePanelHost::askAcme(bool renew, std::function<void(const QJsonObject&)> answer) {
    answer(acmeAnswer(hostCore_.acmeKeeper(), {{QStringLiteral("renew"), renew}}));
}

} // namespace kv::ui
