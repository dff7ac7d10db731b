#pragma once
// A ProgramCore over a fake engine in a temporary data folder, for the
// administration channel's tests, and a connection with a start time and a
// current folder.

#include "core/ProgramCore.h"
#include "tests/support/FakeConnection.h"
#include "tests/support/FakeEngine.h"

#include <QTemporaryDir>
#include <memory>

namespace kv::testing {

class WatchedConnection : public FakeConnection {
public:
    using FakeConnection::FakeConnection;
    QDateTime ConnectedAt() const override { return connectedAt; }
    QString CurrentFolder() const override { return folder; }
    QDateTime connectedAt;
    QString folder = QStringLiteral("/");
};

struct AdminCoreFixture {
    QTemporaryDir dir;
    MemorySettingsStore settings;
    FakeEngine* engine = nullptr;
    std::unique_ptr<ProgramCore> core;

    // The data folder is `folder` when given (the caller makes it), else `dir`.
    explicit AdminCoreFixture(const QString& folder = {}) {
        core =
            std::make_unique<ProgramCore>(folder.isEmpty() ? dir.path() : folder, settings, [this] {
                auto made = std::make_unique<FakeEngine>();
                engine = made.get();
                return made;
            });
    }
    bool start() { return core->server().ServerStart(); }
};

} // namespace kv::testing
