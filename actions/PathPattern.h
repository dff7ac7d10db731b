#pragma once
// A pattern over the path a client sees, such as /scansioni/*.pdf: `*` and
// `?` stay within one folder name, `**` crosses folders ("/**/" also matches
// a single "/"). Every other character stands for itself; letter case counts.

#include <QRegularExpression>
#include <QString>
#include <optional>

namespace kv::actions {

class PathPattern {
public:
    // The pattern, or the Italian reason it cannot be one (it must start
    // with "/", hold no control characters and no run of three stars).
    static std::optional<PathPattern> parse(const QString& text, QString* error = nullptr);

    bool matches(const QString& clientPath) const;
    const QString& text() const { return text_; }

private:
    PathPattern(QString text, QRegularExpression expression);
    QString text_;
    QRegularExpression expression_;
};

} // namespace kv::actions
