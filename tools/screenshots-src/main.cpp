// Renders the main window's six panels, the start notice, the log viewer and
// the questions asked before deleting or cutting clients off to PNG files,
// offscreen, with sample data: kv_screenshots DIR
#include "adminchannel/AdminChannel.h"
#include "core/ProgramCore.h"
#include "layout/Twips.h"
#include "panels/ui/AdminPanels.h"
#include "panels/ui/VirtualDirDialog.h"
#include "tests/support/FakeConnection.h"
#include "tests/support/FakeEngine.h"
#include "window/Form1.h"
#include "window/ItalianTranslation.h"
#include "window/LogPanel.h"
#include "window/MessageBoxMessages.h"
#include "window/OnlinePanel.h"
#include "window/StartNotice.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSqlQuery>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTreeWidget>
#include <cmath>
#include <functional>
#include <memory>

using namespace kv;

namespace {

void settle() {
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

// Scrolls the shown panel `panel` (0: Account) so that the widget `name`
// stands near the top of the viewport.
void scrollTo(ui::Form1& window, int panel, const QString& name) {
    QWidget* page = window.picPanel(panel);
    if (QWidget* target = page->findChild<QWidget*>(name))
        window.scrollBar()->setValue((target->mapTo(page, QPoint()).y() - 110) * kTwipsPerPixel);
    settle();
}

bool save(QWidget* w, const QString& dir, const QString& name,
          const std::function<void()>& prepare = {}) {
    if (prepare)
        prepare();
    settle();
    const QString path = QDir(dir).filePath(name);
    const bool ok = w->grab().save(path);
    QTextStream(stdout) << (ok ? "wrote " : "FAILED ") << path << '\n';
    return ok;
}

// Messages are not shown; each question is rendered as the operator would
// see it, to the file named beforehand, and answered no.
struct ShotMessages : Messages {
    QString dir;
    QString nextShot;
    QWidget* owner = nullptr;
    bool ok = true;
    void show(const QString&, MessageIcon) override {}
    bool confirm(const QString& text) override {
        QMessageBox box(owner);
        ui::prepareQuestion(box, text);
        box.show();
        if (nextShot.isEmpty())
            nextShot = QStringLiteral("domanda-senza-nome.png");
        ok &= save(&box, dir, nextShot);
        nextShot.clear();
        return false;
    }
};

// Five minutes of sample traffic polled once a second: mario downloads a
// file of known size, giulia uploads, the anonymous client only browses.
void runSampleTransfers(ui::Form1& window,
                        const std::vector<std::unique_ptr<testing::FakeConnection>>& clients) {
    using Direction = kv::session::TransferActivity::Direction;
    kv::session::TransferActivity& down = clients[0]->activity;
    kv::session::TransferActivity& up = clients[2]->activity;
    down.direction = Direction::Download;
    down.path = QStringLiteral("/documenti/archivio-2025.zip");
    down.size = qint64(900) << 20;
    up.direction = Direction::Upload;
    up.path = QStringLiteral("/foto/vacanze.tar");
    for (int second = 0; second <= monitor::kRateHistoryPoints; ++second) {
        const double wave = std::sin(second / 23.0);
        down.bytes += qint64((2.2 + 0.8 * wave) * (1 << 20));
        up.bytes += qint64((0.6 + 0.3 * std::cos(second / 17.0)) * (1 << 20));
        down.sentTotal = down.bytes;
        up.receivedTotal = up.bytes;
        window.online().refreshLive(qint64(second) * 1000);
    }
}

// A second window on a folder another program's server already serves:
// attached to it, with that server's clients.
bool shootAttached(const QString& out,
                   const std::vector<std::unique_ptr<testing::FakeConnection>>& connections,
                   const ui::Form1Options& options) {
    QTemporaryDir data;
    MemorySettingsStore serverSettings;
    testing::FakeEngine* engine = nullptr;
    ProgramCore server(data.path(), serverSettings, [&engine] {
        auto e = std::make_unique<testing::FakeEngine>();
        engine = e.get();
        return e;
    });
    {
        QSqlQuery query(server.database().connection());
        query.exec(QStringLiteral("UPDATE settings SET ip = '192.168.1.10'"));
        server.views().openAll();
    }
    for (const auto& c : connections)
        engine->connections.append(c.get());
    if (!server.server().ServerStart())
        return false;
    AdminChannel channel(server);
    if (channel.open() != AdminChannel::OpenResult::Listening)
        return false;

    MemorySettingsStore settings;
    ProgramCore core(data.path(), settings, [] { return std::make_unique<testing::FakeEngine>(); });
    ShotMessages messages;
    ui::Form1 window(core, messages, nullptr, options);
    window.resize(1180, 640);
    window.show();
    window.Form_Activate();
    QElapsedTimer waited;
    waited.start();
    while (window.online().list()->topLevelItemCount() < int(connections.size()) &&
           waited.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    window.selectItem(5);
    return save(&window, out, QStringLiteral("5c-online-server-collegato.png"));
}

// A window on the system service's folder after the service stopped: it
// says how to start it again and offers no Start of its own.
bool shootServiceStopped(const QString& out, const ui::Form1Options& defaults) {
    QTemporaryDir data;
    MemorySettingsStore serverSettings;
    auto service = std::make_unique<ProgramCore>(
        data.path(), serverSettings, [] { return std::make_unique<testing::FakeEngine>(); });
    if (!service->server().ServerStart())
        return false;
    auto channel = std::make_unique<AdminChannel>(*service);
    if (channel->open() != AdminChannel::OpenResult::Listening)
        return false;

    ui::Form1Options options = defaults;
    options.serviceFolder = data.path();
    MemorySettingsStore settings;
    ProgramCore core(data.path(), settings, [] { return std::make_unique<testing::FakeEngine>(); });
    ShotMessages messages;
    ui::Form1 window(core, messages, nullptr, options);
    window.show();
    window.Form_Activate();
    QElapsedTimer waited;
    waited.start();
    while (!window.isAttached() && waited.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    channel.reset();
    service.reset();
    waited.restart();
    while (window.isAttached() && waited.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    window.selectItem(4);
    waited.restart(); // the log box takes its lines in batches
    while (window.logPanel().logText().isEmpty() && waited.elapsed() < 2000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    waited.restart(); // and shows them on its next turn
    while (waited.elapsed() < 300)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return save(&window, out, QStringLiteral("5d-servizio-fermo.png"));
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    ui::installItalianTranslation(app);
    if (argc < 2) {
        QTextStream(stderr) << "usage: kv_screenshots DIR\n";
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    QTemporaryDir data;
    MemorySettingsStore settings;
    testing::FakeEngine* engine = nullptr;
    ProgramCore core(data.path(), settings, [&engine] {
        auto e = std::make_unique<testing::FakeEngine>();
        engine = e.get();
        return e;
    });
    engine->setLocalAddress(QStringLiteral("192.168.1.10"));

    // Sample clients, logged in; one account twice from one address.
    struct Sample {
        const char *user, *password, *host, *letters;
    };
    const Sample samples[] = {{"mario", "rossi2024", "192.168.1.21", "RWDBM"},
                              {"mario", "rossi2024", "192.168.1.21", "RWDBM"},
                              {"anonymous", "guest@", "192.168.1.34", "RB"},
                              {"giulia", "s3greta", "192.168.1.40", "RBW"}};
    std::vector<std::unique_ptr<testing::FakeConnection>> connections;
    for (const Sample& s : samples) {
        auto c = std::make_unique<testing::FakeConnection>(QString::fromLatin1(s.user),
                                                           QString::fromLatin1(s.password),
                                                           QString::fromLatin1(s.host));
        auto grant = std::make_shared<files::LoginGrant>();
        grant->login = c->UserName();
        grant->rights = files::Rights::fromLetters(QString::fromLatin1(s.letters));
        grant->address = c->RemoteHost();
        c->setGrant(std::move(grant));
        engine->connections.append(c.get());
        connections.push_back(std::move(c));
    }

    // Sample accounts, virtual folders and address lists for the administration panels.
    {
        QSqlQuery query(core.database().connection());
        for (const char* sql :
             {"INSERT INTO users (ID, login, password, enabled, read, write, \"delete\", browse, "
              "manage, rootdir) VALUES (1, 'mario', 'rossi2024', 1, 1, 1, 1, 1, 1, "
              "'/srv/ftp/mario')",
              "INSERT INTO users (ID, login, password, enabled, read, browse) VALUES (2, 'giulia', "
              "'s3greta', 1, 1, 1)",
              "INSERT INTO users (ID, login, password) VALUES (3, 'ospite', 'prova')",
              "INSERT INTO virtualdirs VALUES ('documenti', '/', '/home/mario/Documenti', 1)",
              "INSERT INTO virtualdirs VALUES ('foto', '/archivio', '/media/foto', 1)",
              "INSERT INTO IPok VALUES ('192.168.1.21')",
              "INSERT INTO IPok VALUES ('192.168.1.40')", "INSERT INTO IPko VALUES ('10.0.0.66')"})
            query.exec(QLatin1String(sql));
        core.views().openAll();
    }

    ShotMessages messages;
    messages.dir = out;
    ui::Form1Options options = ui::defaultForm1Options();
    options.trayAvailable = false;
    options.desktopOpen = [](const QString&, const QString&) { return true; };
    options.showNotice = [](ui::StartNotice&) {};
    ui::Form1 window(core, messages, nullptr, options);
    messages.owner = &window;
    window.show();
    window.Form_Activate();
    settle();

    bool ok = true;
    const char* names[] = {"1-account.png", "2-impostazioni.png", "3-sicurezza.png"};
    for (int i = 0; i < 3; ++i) {
        window.selectItem(i + 1);
        ok &= save(&window, out, QString::fromLatin1(names[i]));
    }

    // What a disabled account can do, said beside its details.
    window.selectItem(1);
    core.views().Data1().MoveLast();
    ok &= save(&window, out, QStringLiteral("1d-account-disabilitato.png"));
    core.views().Data1().MoveFirst();

    // The SFTP group, every other option, and the warning while the whole
    // disk is the default root.
    window.selectItem(2);
    scrollTo(window, 1, QStringLiteral("chkSftpPassword"));
    ok &= save(&window, out, QStringLiteral("2b-impostazioni-sftp.png"));
    window.scrollBar()->setValue(window.scrollBar()->maximum());
    ok &= save(&window, out, QStringLiteral("2c-impostazioni-altre-opzioni.png"));
    {
        QSqlQuery query(core.database().connection());
        query.exec(QStringLiteral("UPDATE settings SET rootdir = '/'"));
        core.views().Data2().Refresh();
        window.selectItem(2);
        scrollTo(window, 1, QStringLiteral("txtRoot"));
        ok &= save(&window, out, QStringLiteral("2d-impostazioni-tutto-il-disco.png"));
    }

    // The whole account panel, with the anonymous account, in a taller window.
    const QSize normalSize = window.size();
    window.resize(normalSize.width(), 1700);
    window.selectItem(1);
    ok &= save(&window, out, QStringLiteral("1b-account-intero.png"));
    window.resize(normalSize);
    window.selectItem(1);

    {
        ui::VirtualDirDialog editor(core.database().connection(), 1, window, &window);
        editor.show();
        ok &= save(&editor, out, QStringLiteral("1c-cartelle-virtuali.png"));
    }

    // The protection group at the bottom of the security panel.
    window.selectItem(3);
    window.scrollBar()->setValue(window.scrollBar()->maximum());
    ok &= save(&window, out, QStringLiteral("3b-sicurezza-protezione.png"));

    // The questions before deleting: an account with its folders, a stored
    // address, the log file.
    window.selectItem(1);
    messages.nextShot = QStringLiteral("9a-domanda-elimina-account.png");
    if (auto* remove = window.findChild<QPushButton*>(QStringLiteral("cmdDelete")))
        remove->click();
    window.selectItem(3);
    messages.nextShot = QStringLiteral("9b-domanda-elimina-indirizzo.png");
    if (auto* remove = window.findChild<QPushButton*>(QStringLiteral("cmdEliminaIP")))
        remove->click();
    QFile oldLog(core.logFilePath());
    if (oldLog.open(QIODevice::WriteOnly))
        oldLog.write("[09:58:01] SERVER START\r\n");
    oldLog.close();
    window.selectItem(4);
    messages.nextShot = QStringLiteral("9c-domanda-cancella-log.png");
    window.logPanel().cmdCancellaLog_Click();

    window.toolbarClick(QStringLiteral("kStart"));
    const char* lines[] = {
        "[10:02:11] 220 Kestrova Simple FTP Server ready.",
        "[10:02:11] USER mario",
        "[10:02:11] 331 Password required for mario.",
        "[10:02:12 192.168.1.21] PASS ********",
        "[10:02:12 192.168.1.21] 230 User mario logged in.",
        "[10:02:14 192.168.1.21] CWD /documenti",
        "[10:02:14 192.168.1.21] 250 CWD command successful.",
        "[10:02:15 192.168.1.21] RETR preventivo.pdf",
        "[10:02:16 192.168.1.21] 226 Transfer complete.",
    };
    for (const char* line : lines)
        core.WriteLog(QString::fromLatin1(line));
    window.AggiornaUtenti();
    window.ShowUsersNumber();

    window.selectItem(4);
    ok &= save(&window, out, QStringLiteral("4-log.png"));
    window.selectItem(5);
    ok &= save(&window, out, QStringLiteral("5-online.png"));
    // Wider, so the live columns and the status bar's rates show in full.
    window.resize(1180, normalSize.height());
    window.selectItem(5);
    ok &= save(&window, out, QStringLiteral("5b-online-trasferimenti.png"),
               [&] { runSampleTransfers(window, connections); });
    // Stop and closing with clients connected and moving files; "Blocca"
    // while the block list is off.
    messages.nextShot = QStringLiteral("9d-domanda-stop.png");
    window.stopButton()->trigger();
    messages.nextShot = QStringLiteral("9e-domanda-chiusura.png");
    window.close();
    if (QTreeWidget* list = window.online().list(); list && list->topLevelItemCount() > 0)
        list->setCurrentItem(list->topLevelItem(0));
    messages.nextShot = QStringLiteral("9f-domanda-blocca.png");
    ui::BloccaIPUtente(window);

    window.resize(normalSize);
    window.selectItem(6);
    ok &= save(&window, out, QStringLiteral("6-help.png"));

    ui::StartNotice notice(settings, &window);
    notice.show();
    ok &= save(&notice, out, QStringLiteral("7-avviso.png"));
    notice.hide();

    QFile log(core.logFilePath());
    if (log.open(QIODevice::WriteOnly)) {
        for (const char* line : lines)
            log.write(QByteArray(line) + "\r\n");
        log.close();
    }
    window.logPanel().cmdMostraLog_Click();
    ok &= save(window.logPanel().viewer(), out, QStringLiteral("8-log-viewer.png"));
    ok &= shootAttached(out, connections, options);
    ok &= shootServiceStopped(out, options);
    return ok && messages.ok ? 0 : 1;
}
