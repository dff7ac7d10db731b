#pragma once
// Operator messages recorded instead of shown, for the window and panel tests.

#include "core/Messages.h"

#include <QList>
#include <QPair>
#include <QStringList>

namespace kv::testing {

struct RecordingMessages : Messages {
    QList<QPair<QString, MessageIcon>> shown;
    void show(const QString& text, MessageIcon icon) override { shown.append({text, icon}); }
    // Questions asked, answered with `answer`.
    QStringList asked;
    bool answer = false;
    bool confirm(const QString& text) override {
        asked.append(text);
        return answer;
    }
    QStringList texts() const {
        QStringList t;
        for (const auto& m : shown)
            t.append(m.first);
        return t;
    }
};

} // namespace kv::testing
