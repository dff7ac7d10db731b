// The command parser and the command table's precondition checks, through a
// fake session.

#include "engine/CommandParser.h"
#include "engine/CommandTable.h"

#include <QTest>

using namespace kv::engine;
using namespace Qt::StringLiterals;

class TestCommandParser : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
    void dispatchChecksPreconditions_data();
    void dispatchChecksPreconditions();
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

struct FakeTarget : CommandTarget {
    bool loggedIn = false;
    QString outcome;
    bool isLoggedIn() const override { return loggedIn; }
    void rejectCommand(const ParsedCommand&, ParseError e, const CommandInfo* info,
                       bool loginMissing) override {
        outcome = loginMissing ? QStringLiteral("login")
                  : info       ? QStringLiteral("argument")
                               : QStringLiteral("error %1").arg(int(e));
    }
    void runCommand(const CommandInfo& info, const QString& arg) override {
        outcome = QStringLiteral("run %1 %2").arg(QLatin1StringView(info.verb), arg);
    }
};

void TestCommandParser::dispatchChecksPreconditions_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("loggedIn");
    QTest::addColumn<QString>("outcome");
    const QString badVerb = u"error %1"_s.arg(int(ParseError::BadVerb));
    const QString controlChar = u"error %1"_s.arg(int(ParseError::ControlChar));
    QTest::newRow("user before login") << QByteArray("USER a") << false << u"run USER a"_s;
    QTest::newRow("list needs login") << QByteArray("LIST") << false << u"login"_s;
    QTest::newRow("retr needs login first") << QByteArray("RETR") << false << u"login"_s;
    QTest::newRow("retr needs argument") << QByteArray("RETR ") << true << u"argument"_s;
    QTest::newRow("alias") << QByteArray("XMKD d") << true << u"run XMKD d"_s;
    QTest::newRow("unknown") << QByteArray("FOO") << true << badVerb;
    QTest::newRow("quit always") << QByteArray("QUIT") << false << u"run QUIT "_s;
    QTest::newRow("nul rejected") << QByteArray("PWD\0", 4) << true << controlChar;
}

void TestCommandParser::dispatchChecksPreconditions() {
    QFETCH(QByteArray, line);
    QFETCH(bool, loggedIn);
    QFETCH(QString, outcome);
    FakeTarget t;
    t.loggedIn = loggedIn;
    dispatchCommand(t, parseCommandLine(line));
    QCOMPARE(t.outcome, outcome);
}

QTEST_GUILESS_MAIN(TestCommandParser)
#include "test_commandparser.moc"
