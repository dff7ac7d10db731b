// Command lines: how the byte stream is cut into lines and what each raw line
// becomes (the dispatcher is seen through real sessions in test_ftpserver).

#include "engine/CommandParser.h"
#include "engine/LineFramer.h"
#include "tests/support/DataRow.h"

#include <QTest>

using namespace kv::engine;
using namespace Qt::StringLiterals;

class TestCommandParser : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("verb");
        QTest::addColumn<QString>("argument");
        const auto row = [](const char* name, const QByteArray& line, ParseError e,
                            const char* verb, const QString& argument = {}) {
            QTest::newRow(name) << line << int(e) << QString::fromLatin1(verb) << argument;
        };
        const ParseError ok = ParseError::None;
        row("plain", "USER bob\r", ok, "USER", u"bob"_s);
        row("lower case verb", "retr a b ", ok, "RETR", u"a b "_s);
        row("no argument", "PWD", ok, "PWD");
        row("leading spaces", "  NOOP", ok, "NOOP");
        row("utf8 name", "MKD caff\xc3\xa8", ok, "MKD", u"caffè"_s);
        row("telnet ip dm", "\377\364\377\362ABOR", ok, "ABOR"); // IAC IP IAC DM
        row("telnet option", "\xff\xfb\x01NOOP", ok, "NOOP");
        row("empty", "\r", ParseError::Empty, "");
        row("nul", QByteArray("CWD a\0b", 7), ParseError::ControlChar, "");
        row("bare cr inside", "CWD a\rb", ParseError::ControlChar, "");
        row("invalid utf8", "CWD \xc3\x28", ParseError::BadEncoding, "CWD");
        row("digit verb", "U5ER x", ParseError::BadVerb, "U5ER");
        row("digits after letters", "xsha256 a b", ok, "XSHA256", u"a b"_s);
        row("digits after pass", "PASS1234", ParseError::BadVerb, "PASS ***");
        row("long verb", "ABCDEFGHI", ParseError::BadVerb, "ABCDEFGHI");
        row("quote in bad verb", "a'b", ParseError::BadVerb, "a?b");
        // A password behind a malformed verb is not echoed back (nor logged).
        row("tab after pass", "PASS\tsecret", ParseError::BadVerb, "PASS ***");
        row("digit after acct", "acct1secret", ParseError::BadVerb, "ACCT ***");
        row("longer verb kept", "PASSWORD1", ParseError::BadVerb, "PASSWORD1");
    }
    void parse() {
        QFETCH(QByteArray, line);
        const ParsedCommand cmd = parseCommandLine(line);
        QTEST(int(cmd.error), "error");
        QTEST(cmd.verb, "verb");
        QTEST(cmd.argument, "argument");
    }

    void framing_data() {
        QTest::addColumn<QByteArrayList>("reads");
        QTest::addColumn<QStringList>("lines"); // long lines by their length
        const QByteArray longest(4096, 'x');
        addRow("split", QByteArrayList{"NO", "OP\r", "\n"}, QStringList{"NOOP"});
        addRow("longest", QByteArrayList{longest + "\r\n"}, QStringList{"4096 bytes"});
        addRow("one over, two in one read", QByteArrayList{longest + "x\nNOOP\n"},
               QStringList{"too long", "NOOP"});
        addRow("skipped to its end",
               QByteArrayList{longest + "xx", QByteArray(3000, 'x') + "\r\nNOOP\r\n"},
               QStringList{"too long", "NOOP"});
    }
    void framing() {
        QFETCH(QByteArrayList, reads);
        LineFramer framer;
        QStringList got;
        // As the session reads: never more than the framer has room for.
        for (const QByteArray& chunk : std::as_const(reads)) {
            QByteArrayView rest = chunk;
            for (int guard = 0; guard < 100; ++guard) {
                const qsizetype n = std::clamp<qsizetype>(framer.room(), 0, rest.size());
                framer.append(rest.first(n));
                rest = rest.sliced(n);
                QByteArray line;
                const LineFramer::Next next = framer.next(line);
                if (next == LineFramer::Next::NeedMore && rest.isEmpty())
                    break;
                if (next == LineFramer::Next::TooLong)
                    got << u"too long"_s;
                else if (next == LineFramer::Next::Line)
                    got << (line.size() > 100 ? u"%1 bytes"_s.arg(line.size())
                                              : QString::fromLatin1(line));
                framer.take();
            }
        }
        QTEST(got, "lines");
    }
};

QTEST_GUILESS_MAIN(TestCommandParser)
#include "test_commandparser.moc"
