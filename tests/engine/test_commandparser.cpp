// The command parser: what each raw line becomes. The dispatcher's
// preconditions are seen through real sessions in test_ftpserver.

#include "engine/CommandParser.h"

#include <QTest>

using namespace kv::engine;
using namespace Qt::StringLiterals;

class TestCommandParser : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
};

void TestCommandParser::parse_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("verb");
    QTest::addColumn<QString>("argument");
    const auto row = [](const char* name, const QByteArray& line, ParseError e, const char* verb,
                        const QString& argument = {}) {
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
    row("long verb", "ABCDEFGHI", ParseError::BadVerb, "ABCDEFGHI");
    row("quote in bad verb", "a'b", ParseError::BadVerb, "a?b");
}

void TestCommandParser::parse() {
    QFETCH(QByteArray, line);
    QFETCH(int, error);
    QFETCH(QString, verb);
    QFETCH(QString, argument);
    const ParsedCommand cmd = parseCommandLine(line);
    QCOMPARE(int(cmd.error), error);
    QCOMPARE(cmd.verb, verb);
    QCOMPARE(cmd.argument, argument);
}

QTEST_GUILESS_MAIN(TestCommandParser)
#include "test_commandparser.moc"
