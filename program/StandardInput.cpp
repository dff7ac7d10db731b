#include "program/StandardInput.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace kv::cli {

namespace {

// Far more than any public key line; the rest is not read.
constexpr std::size_t kMaxInput = 64 * 1024;

} // namespace

std::optional<QString> readInputText(const QString& prompt) {
    const bool terminal = isatty(STDIN_FILENO) != 0;
    if (terminal) {
        std::fputs(prompt.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    }
    std::string text;
    bool any = false;
    for (int ch; text.size() < kMaxInput && (ch = std::fgetc(stdin)) != EOF;) {
        any = true;
        if (terminal && ch == '\n')
            break;
        text.push_back(char(ch));
    }
    if (!any)
        return std::nullopt;
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

} // namespace kv::cli
