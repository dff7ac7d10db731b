#pragma once
// A main window over a scratch data folder and in-memory settings, with the
// messages and start notices recorded instead of shown.

#include "core/ProgramCore.h"
#include "ftp/FtpServer.h"
#include "tests/support/FakeEngine.h"
#include "tests/support/RecordingMessages.h"
#include "window/Form1.h"
#include "window/StartNotice.h"

#include <QCheckBox>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

namespace kv::testing {

struct WindowHarness {
    enum class Engine { Fake, Real };

    explicit WindowHarness(Engine kind = Engine::Fake, bool trayAvailable = false,
                           const std::function<void(const QString&)>& prepare = {}) {
        if (prepare)
            prepare(dir.path());
        core = std::make_unique<ProgramCore>(
            dir.path(), settings, [this, kind]() -> std::unique_ptr<ftp::FtpEngine> {
                if (kind == Engine::Real)
                    return std::make_unique<ftp::FtpServer>();
                auto fake = std::make_unique<FakeEngine>();
                if (!fakeEngine) // later instances only answer the default address
                    fakeEngine = fake.get();
                return fake;
            });
        options.trayAvailable = trayAvailable;
        options.desktopOpen = [this](const QString& document, const QString& folder) {
            opened.append(document + QLatin1Char('|') + folder);
            return true;
        };
        options.showNotice = [this](ui::StartNotice& notice) {
            ++notices;
            notice.check()->setChecked(tickNotice);
            notice.accept();
        };
    }

    ui::Form1& window() {
        if (!form)
            form = std::make_unique<ui::Form1>(*core, messages, nullptr, options);
        return *form;
    }

    // Shown and activated once, as at start-up.
    ui::Form1& started() {
        ui::Form1& w = window();
        w.show();
        // Not exposed when the first activation sent it to the tray.
        (void)QTest::qWaitForWindowExposed(&w);
        if (!w.alreadyActivated())
            w.Form_Activate();
        return w;
    }

    void setRow(const QString& field, const QVariant& value) {
        access::DataView& row = core->views().Data2();
        QVERIFY(row.Edit());
        QVERIFY(row.setField(field, value));
        QVERIFY(row.Update());
    }

    QTemporaryDir dir;
    MemorySettingsStore settings;
    RecordingMessages messages;
    FakeEngine* fakeEngine = nullptr;
    std::unique_ptr<ProgramCore> core;
    ui::Form1Options options;
    std::unique_ptr<ui::Form1> form;
    QStringList opened;
    int notices = 0;
    bool tickNotice = false;
};

} // namespace kv::testing
