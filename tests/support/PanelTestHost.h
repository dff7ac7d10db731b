#pragma once
// A main window stand-in for the administration panel tests: a program core
// on a temporary accounts.dat with an engine that listens nowhere, messages
// recorded instead of shown, folder and file pickers that answer what the test says,
// and a selectable online client address.

#include "core/DataFolder.h"
#include "core/ProgramCore.h"
#include "panels/ui/CorePanelHost.h"
#include "settings/SettingsStore.h"
#include "tests/support/DbTestSupport.h"
#include "tests/support/FakeEngine.h"
#include "tests/support/RecordingMessages.h"

#include <QList>
#include <QPair>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace kv::testing {

struct PickerCall {
    QString prompt;
    QString defaultRoot;
};

// The core and its scratch folder, made before the host that asks it.
struct PanelTestCore {
    explicit PanelTestCore(ProgramCore::EngineFactory makeEngine) {
        if (makeEngine) {
            core_ = std::make_unique<ProgramCore>(dir_.path(), settings_, std::move(makeEngine));
            return;
        }
        core_ = std::make_unique<ProgramCore>(dir_.path(), settings_, [this] {
            auto engine = std::make_unique<FakeEngine>();
            engine->setLocalAddress(engineAddress);
            if (!mainEngine)
                mainEngine = engine.get();
            return engine;
        });
    }

    QString engineAddress = QStringLiteral("10.1.2.3");
    FakeEngine* mainEngine = nullptr;
    QTemporaryDir dir_;
    MemorySettingsStore settings_;
    std::unique_ptr<ProgramCore> core_;
};

class PanelTestHost : public PanelTestCore, public ui::CorePanelHost {
public:
    // `makeEngine` gives the program's real engine; by default one that listens nowhere.
    explicit PanelTestHost(ProgramCore::EngineFactory makeEngine = {})
        : PanelTestCore(std::move(makeEngine)), CorePanelHost(*core_) {}

    ProgramCore& core() { return *core_; }
    Messages& messages() override { return recorder; }
    QString BrowseForFolder(QWidget*, const QString& prompt, const QString& defaultRoot) override {
        pickerCalls.append({prompt, defaultRoot});
        return pickerAnswer;
    }
    QString BrowseForFile(QWidget*, const QString& prompt, const QString& current) override {
        filePickerCalls.append({prompt, current});
        return pickerAnswer;
    }
    QString BrowseForLocalFile(QWidget*, const QString& prompt, const QString& current) override {
        filePickerCalls.append({prompt, current});
        return pickerAnswer;
    }
    void relayout() override {}
    void wroteAccountsFile() override { ++accountsFileWrites; }
    std::optional<QString> selectedOnlineAddress() const override { return selectedAddress; }
    QString defaultRootText() const override { return {}; }
    // What the panel asked of ACME (renew or not); `acmeReply`, when set,
    // answers in place of the core's keeper.
    void askAcme(bool renew, std::function<void(const QJsonObject&)> answer) override {
        acmeAsks.append(renew);
        if (acmeReply)
            answer(*acmeReply);
        else
            ui::CorePanelHost::askAcme(renew, std::move(answer));
    }

    QString databasePath() const { return accountsFile(dir_.path()); }

    // Values of one column read through a connection of its own, as another
    // program would see the file.
    QStringList column(const QString& sql) const {
        return texts(testing::column(databasePath(), sql));
    }

    // Runs statements on the file through the core's own connection.
    void exec(const QStringList& statements) {
        QSqlQuery query(core_->database().connection());
        for (const QString& statement : statements)
            query.exec(statement);
    }

    RecordingMessages recorder;

    QString pickerAnswer;
    int accountsFileWrites = 0; // wroteAccountsFile() calls
    QList<PickerCall> pickerCalls;
    QList<PickerCall> filePickerCalls;
    std::optional<QString> selectedAddress;
    QList<bool> acmeAsks;
    std::optional<QJsonObject> acmeReply;
};

// The element `index` of a control array named `name` under `root`.
template <typename T> T* arrayChild(QObject* root, const QString& name, int index) {
    for (T* child : root->findChildren<T*>(name)) {
        if (child->property("kvIndex").toInt() == index)
            return child;
    }
    return nullptr;
}

} // namespace kv::testing
