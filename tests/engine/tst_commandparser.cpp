// The command parser and the command table's precondition checks, through a
// fake session.

#include "app/engine/CommandParser.h"
#include "app/engine/CommandTable.h"

#include <QTest>

using namespace kv::engine;

class TestCommandParser : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
    void dispatchChecksPreconditions_data();
    void dispatchChecksPreconditions();
    void survivesEveryShortByteSequence();
};

void TestCommandParser::parse_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("verb");
    QTest::addColumn<QString>("argument");
    const int ok = int(ParseError::None);
    QTest::newRow("plain") << QByteArray("USER bob\r") << ok << "USER"
                           << "bob";
    QTest::newRow("lower case verb") << QByteArray("retr a b ") << ok << "RETR"
                                     << "a b ";
    QTest::newRow("no argument") << QByteArray("PWD") << ok << "PWD"
                                 << "";
    QTest::newRow("leading spaces") << QByteArray("  NOOP") << ok << "NOOP"
                                    << "";
    QTest::newRow("utf8 name") << QByteArray("MKD caff\xc3\xa8") << ok << "MKD"
                               << QString::fromUtf8("caffè");
    QTest::newRow("telnet ip dm") << QByteArray("\xff\xf4\xff\xf2"
                                                "ABOR")
                                  << ok << "ABOR"
                                  << "";
    QTest::newRow("telnet option") << QByteArray("\xff\xfb\x01NOOP") << ok << "NOOP"
                                   << "";
    QTest::newRow("empty") << QByteArray("\r") << int(ParseError::Empty) << ""
                           << "";
    QTest::newRow("nul") << QByteArray("CWD a\0b", 7) << int(ParseError::ControlChar) << ""
                         << "";
    QTest::newRow("bare cr inside") << QByteArray("CWD a\rb") << int(ParseError::ControlChar) << ""
                                    << "";
    QTest::newRow("invalid utf8") << QByteArray("CWD \xc3\x28") << int(ParseError::BadEncoding)
                                  << "CWD"
                                  << "";
    QTest::newRow("digit verb") << QByteArray("U5ER x") << int(ParseError::BadVerb) << "U5ER"
                                << "";
    QTest::newRow("long verb") << QByteArray("ABCDEFGHI") << int(ParseError::BadVerb) << "ABCDEFGHI"
                               << "";
    QTest::newRow("quote in bad verb") << QByteArray("a'b") << int(ParseError::BadVerb) << "a?b"
                                       << "";
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
    QTest::newRow("user before login") << QByteArray("USER a") << false << "run USER a";
    QTest::newRow("list needs login") << QByteArray("LIST") << false << "login";
    QTest::newRow("retr needs login first") << QByteArray("RETR") << false << "login";
    QTest::newRow("retr needs argument") << QByteArray("RETR ") << true << "argument";
    QTest::newRow("alias") << QByteArray("XMKD d") << true << "run XMKD d";
    QTest::newRow("unknown") << QByteArray("FOO") << true
                             << QStringLiteral("error %1").arg(int(ParseError::BadVerb));
    QTest::newRow("quit always") << QByteArray("QUIT") << false << "run QUIT ";
    QTest::newRow("feat before login") << QByteArray("FEAT") << false << "run FEAT ";
    QTest::newRow("nul rejected") << QByteArray("PWD\0", 4) << true
                                  << QStringLiteral("error %1").arg(int(ParseError::ControlChar));
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

void TestCommandParser::survivesEveryShortByteSequence() {
    // Every 2-byte line and a deterministic spread of longer ones: the parser
    // answers each with a command or an error, and a parsed command never
    // carries a control character.
    QByteArray line(2, '\0');
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            line[0] = char(a);
            line[1] = char(b);
            const ParsedCommand cmd = parseCommandLine(line);
            if (cmd.ok()) {
                for (QChar c : cmd.verb + cmd.argument)
                    QVERIFY(c.unicode() >= 0x20 || c == u'\t');
            }
        }
    }
    quint32 seed = 12345;
    for (int i = 0; i < 20000; ++i) {
        QByteArray l;
        const int len = int(seed % 40);
        for (int j = 0; j < len; ++j) {
            seed = seed * 1103515245u + 12345u;
            l.append(char((seed >> 16) & 0xFF));
        }
        FakeTarget t;
        dispatchCommand(t, parseCommandLine(l));
        QVERIFY(!t.outcome.isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestCommandParser)
#include "tst_commandparser.moc"
