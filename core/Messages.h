#pragma once
// Every message to the operator goes through this interface: the window shows
// a message box with the program title as caption, tests record the messages,
// headless mode prints them.

#include <QString>

namespace kv {

enum class MessageIcon { None, Exclamation, Information };

class Messages {
public:
    virtual ~Messages() = default;
    virtual void show(const QString& text, MessageIcon icon) = 0;
    // A yes/no question before something that cannot be undone; true for yes.
    // Where nobody can answer, the answer is no.
    virtual bool confirm(const QString& text) {
        (void)text;
        return false;
    }
};

inline const QString kProgramTitle = QStringLiteral("Kestrova Vellim");

} // namespace kv
