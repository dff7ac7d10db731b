// Command lines: how the byte stream is cut into lines, what each raw line
// becomes (the dispatcher is seen through real sessions in test_ftpserver),
// and how lines and other client text are written to the log.

#include "ftp/CommandLog.h"
#include "ftp/CommandParser.h"
#include "ftp/LineFramer.h"
#include "session/LogText.h"
#include "tests/support/DataRow.h"

#include <QTest>

using namespace kv::ftp;
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
        row("pass run into its argument", "PASSsecret", ParseError::BadVerb, "PASS ***");
        row("longer verb", "PASSWORD1", ParseError::BadVerb, "PASS ***");
        row("longer acct", "Acctno x", ParseError::BadVerb, "ACCT ***");
        row("tab before pass", "\tPASS secret", ParseError::BadVerb, "PASS ***");
        row("tab and spaces before acct", " \t acct secret", ParseError::BadVerb, "ACCT ***");
        row("nul before pass", QByteArray("\0PASS secret", 12), ParseError::ControlChar, "");
        row("spaces before pass", "  pass secret", ok, "PASS", u"secret"_s);
        row("pasv is no secret", "PASV", ok, "PASV");
        row("pas alone is no secret", "PAS secret", ok, "PAS", u"secret"_s);
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

    void escaped_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("logged");
        addRow("plain", u"CWD caffè/日本"_s, u"CWD caffè/日本"_s);
        addRow("backslash kept", u"a\\x41"_s, u"a\\x41"_s);
        addRow("c0 and del", u"a\tb\x1b[31mc\x7f"_s, u"a\\x09b\\x1b[31mc\\x7f"_s);
        addRow("line breaks", u"a\nb\rc"_s, u"a\\x0ab\\x0dc"_s);
        addRow("del among printable ascii", u"a\x7f b"_s, u"a\\x7f b"_s);
        addRow("nul", QString(u"a\0b"_s), u"a\\x00b"_s);
        addRow("c1", u"a\u0085b\u009bc"_s, u"a\\x85b\\x9bc"_s);
        addRow("separators", u"a\u2028b\u2029c"_s, u"a\\u2028b\\u2029c"_s);
        addRow("bidi overrides", u"\u202a\u202b\u202c\u202d\u202e"_s,
               u"\\u202a\\u202b\\u202c\\u202d\\u202e"_s);
        addRow("astral format", u"a\U000E0001b"_s, u"a\\U000e0001b"_s);
        addRow("astral letter kept", u"a\U0001F600b"_s, u"a\U0001F600b"_s);
        addRow("lone surrogate", QString(QChar(0xD800)) + u"x"_s, u"\\ud800x"_s);
    }
    void escaped() {
        QFETCH(QString, text);
        QFETCH(QString, logged);
        QCOMPARE(kv::session::escapedForLog(text), logged);
        QCOMPARE(kv::session::escapedForLog(logged), logged); // escaping twice changes nothing
    }

    void commandLine_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("logged");
        addRow("plain", "USER bob\r"_ba, u"USER bob"_s);
        addRow("utf8", "MKD caff\xc3\xa8"_ba, u"MKD caffè"_s);
        addRow("latin1 byte", "CWD caf\xe9"_ba, u"CWD caf\\xe9"_s);
        addRow("del among printable ascii", "CWD a\x7f b"_ba, u"CWD a\\x7f b"_s);
        addRow("overlong", "CWD \xc0\xaf"_ba, u"CWD \\xc0\\xaf"_s);
        addRow("encoded surrogate", "CWD \xed\xa0\x80"_ba, u"CWD \\xed\\xa0\\x80"_s);
        addRow("cut sequence", "CWD \xe2\x80"_ba, u"CWD \\xe2\\x80"_s);
        addRow("utf8 c1", "USER a\xc2\x85"_ba, u"USER a\\x85"_s);
        addRow("utf8 override", "USER \xe2\x80\xae"_ba, u"USER \\u202e"_s);
        addRow("telnet", "\377\364\377\362ABOR"_ba, u"\\xff\\xf4\\xff\\xf2ABOR"_s);
        addRow("pass", "PASS secret\r"_ba, u"PASS ***"_s);
        addRow("pass lower case", "pass secret"_ba, u"PASS ***"_s);
        addRow("pass alone", "PASS"_ba, u"PASS ***"_s);
        addRow("pass latin1", "PASS caf\xe9secret"_ba, u"PASS ***"_s);
        addRow("pass tab", "PASS\tsecret"_ba, u"PASS ***"_s);
        addRow("pass leading spaces", "   PaSs secret"_ba, u"PASS ***"_s);
        addRow("pass after telnet", "\xff\xf4\xff\xfb\x01PASS secret"_ba, u"PASS ***"_s);
        addRow("telnet inside pass", "PA\xff\xf4SS secret"_ba, u"PASS ***"_s);
        addRow("literal ff after pass", "PASS\xff\xffsecret"_ba, u"PASS ***"_s);
        addRow("pass digit", "PASS1secret"_ba, u"PASS ***"_s);
        addRow("acct", "ACCT secret"_ba, u"ACCT ***"_s);
        addRow("pass run into its argument", "PASSsecret"_ba, u"PASS ***"_s);
        addRow("longer verb", "PASSWD x"_ba, u"PASS ***"_s);
        addRow("acct run into its argument", "acctsecret\r"_ba, u"ACCT ***"_s);
        addRow("tab before pass", "\tPASS secret"_ba, u"PASS ***"_s);
        addRow("nul before pass", QByteArray("\0PASS secret", 12), u"PASS ***"_s);
        addRow("blanks, tabs and nuls before pass", QByteArray(" \t\0\0 \tpass secret", 17),
               u"PASS ***"_s);
        addRow("del before acct",
               "\x7f"
               "ACCT secret"_ba,
               u"ACCT ***"_s);
        addRow("pass inside", "USER PASS x"_ba, u"USER PASS x"_s);
        addRow("pasv", "PASV"_ba, u"PASV"_s);
        addRow("pas", "PAS x"_ba, u"PAS x"_s);
    }
    void commandLine() {
        QFETCH(QByteArray, line);
        QTEST(commandLineForLog(line), "logged");
    }
};

QTEST_GUILESS_MAIN(TestCommandParser)
#include "test_commandparser.moc"
