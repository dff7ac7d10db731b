#include "sftp/ChecksumCommand.h"

namespace kv::sftp {

namespace {

struct Tool {
    const char* name;
    files::HashAlgorithm algorithm;
};

constexpr Tool kTools[] = {{"md5sum", files::HashAlgorithm::Md5},
                           {"sha1sum", files::HashAlgorithm::Sha1},
                           {"sha256sum", files::HashAlgorithm::Sha256}};

// What a shell acts on when it stands unquoted anywhere in a word:
// operators, expansions, globs, history, and control characters.
bool shellSpecial(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F || QByteArrayView("|&;<>()$`*?[]{}!").contains(c);
}

// Appends a double-quoted part starting after its opening quote at `i`;
// false when it asks for an expansion or never ends. Inside, a backslash
// only quotes $ ` " \ and a line break.
bool appendDoubleQuoted(QByteArrayView line, qsizetype& i, QByteArray& word) {
    for (; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            ++i;
            return true;
        }
        if (c == '$' || c == '`')
            return false;
        if (c == '\\' && i + 1 < line.size() && QByteArrayView("$`\"\\\n").contains(line[i + 1])) {
            ++i;
            if (line[i] != '\n')
                word += line[i];
            continue;
        }
        word += c;
    }
    return false;
}

// The words of `line` as a POSIX shell splits them; nullopt when the shell
// would do anything but split and unquote.
std::optional<QList<QByteArray>> shellWords(QByteArrayView line) {
    QList<QByteArray> words;
    QByteArray word;
    bool inWord = false;
    qsizetype i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t') {
            if (inWord)
                words.append(std::exchange(word, {}));
            inWord = false;
            ++i;
        } else if (c == '\\') {
            if (i + 1 >= line.size())
                return std::nullopt;
            if (line[i + 1] != '\n') { // a backslash before a line break joins the lines
                word += line[i + 1];
                inWord = true;
            }
            i += 2;
        } else if (c == '\'') {
            const qsizetype end = line.indexOf('\'', i + 1);
            if (end < 0)
                return std::nullopt;
            word += line.sliced(i + 1, end - i - 1);
            inWord = true;
            i = end + 1;
        } else if (c == '"') {
            ++i;
            if (!appendDoubleQuoted(line, i, word))
                return std::nullopt;
            inWord = true;
        } else if (shellSpecial(c) || (!inWord && (c == '~' || c == '#'))) {
            return std::nullopt; // a tilde or a comment only at a word's start
        } else {
            word += c;
            inWord = true;
            ++i;
        }
    }
    if (inWord)
        words.append(word);
    return words;
}

// The name with backslashes and line breaks escaped; `escaped` tells
// whether anything was.
QByteArray shownName(QByteArrayView name, bool& escaped) {
    QByteArray out;
    out.reserve(name.size());
    for (const char c : name) {
        const char* escape = c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
        if (escape) {
            out += escape;
            escaped = true;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

std::optional<ChecksumCommand> parseChecksumCommand(QByteArrayView line) {
    const std::optional<QList<QByteArray>> words = shellWords(line);
    if (!words || words->isEmpty())
        return std::nullopt;
    ChecksumCommand command;
    for (const Tool& tool : kTools) {
        if (words->first() == tool.name) {
            command.tool = tool.name;
            command.algorithm = tool.algorithm;
        }
    }
    if (command.tool.isEmpty())
        return std::nullopt;
    bool options = true;
    for (qsizetype i = 1; i < words->size(); ++i) {
        const QByteArray& word = words->at(i);
        if (options && word == "--") {
            options = false;
            continue;
        }
        // No option is served: some (--check) would read other files.
        if (options && word.size() > 1 && word.startsWith('-'))
            return std::nullopt;
        command.names.append(word);
    }
    return command;
}

QByteArray checksumLine(QByteArrayView hex, QByteArrayView name) {
    bool escaped = false;
    const QByteArray shown = shownName(name, escaped);
    return (escaped ? QByteArray("\\") : QByteArray()) + hex.toByteArray() + "  " + shown + '\n';
}

QByteArray checksumError(QByteArrayView tool, QByteArrayView name, QByteArrayView reason) {
    bool escaped = false;
    return tool.toByteArray() + ": " + shownName(name, escaped) + ": " + reason.toByteArray() +
           '\n';
}

} // namespace kv::sftp
