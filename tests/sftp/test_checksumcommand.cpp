// The checksum commands an exec channel serves: the lines rclone and people
// send are read as a shell would split them, anything a shell would do more
// with (or another program, or an option) is no command; a run hashes the
// files through the session's file layer, confined to its root and under
// its read right, and prints what md5sum, sha1sum and sha256sum print.

#include "sftp/ChecksumRun.h"
#include "tests/support/DataRow.h"
#include "tests/support/TempTree.h"

#include <QCryptographicHash>
#include <QTest>

using namespace kv::sftp;
using kv::files::HashAlgorithm;

class TestChecksumCommand : public QObject {
    Q_OBJECT
    std::unique_ptr<TempTree> tree_;
    std::unique_ptr<kv::files::FileService> files_;
    kv::files::HashWorkers workers_{1};

    void login(const QString& rights) {
        auto g = std::make_shared<kv::files::LoginGrant>();
        g->accountId = 1;
        g->login = QStringLiteral("bob");
        g->rights = kv::files::Rights::fromLetters(rights);
        g->root = tree_->at("root");
        g->virtualDirs = {{"v", "", tree_->at("elsewhere")}};
        files_ = std::make_unique<kv::files::FileService>(g, false);
    }

    struct Ran {
        QByteArray output;
        QByteArray errors;
        int status = -1;
    };
    // Runs `line` to its end, standard input `input` (closed after it).
    Ran run(const QByteArray& line, const QByteArray& input = {}) {
        const std::optional<ChecksumCommand> command = parseChecksumCommand(line);
        if (!command)
            return {};
        ChecksumRun r(*command, *files_, workers_);
        Ran out;
        connect(&r, &ChecksumRun::progressed, this, [&] {
            out.output += r.takeOutput();
            out.errors += r.takeErrors();
        });
        r.start();
        r.takeInput(input);
        r.endInput();
        if (!QTest::qWaitFor([&] { return r.isFinished(); }, 5000))
            return {};
        out.output += r.takeOutput();
        out.errors += r.takeErrors();
        out.status = r.exitStatus();
        return out;
    }
    static QByteArray hex(const QByteArray& data, QCryptographicHash::Algorithm a) {
        return QCryptographicHash::hash(data, a).toHex();
    }

private Q_SLOTS:
    void init() {
        tree_ = std::make_unique<TempTree>();
        QVERIFY(tree_->make({"root/a.txt", "root/a b.txt", "root/q\nX", "root/sub/",
                             "elsewhere/v.txt", "outside.txt", "root/out -> ../outside.txt"}));
    }

    void linesAreSplitAsAShellSplitsThem_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("tool");
        QTest::addColumn<QList<QByteArray>>("names");
        using Names = QList<QByteArray>;
        addRow("rclone's probe: standard input", QByteArray("md5sum"), QByteArray("md5sum"),
               Names{});
        addRow("a plain path", QByteArray("sha1sum /dir/a.txt"), QByteArray("sha1sum"),
               Names{"/dir/a.txt"});
        addRow("rclone's escapes", QByteArray("md5sum /a\\ b\\'s\\$x.txt"), QByteArray("md5sum"),
               Names{"/a b's$x.txt"});
        addRow("rclone's line break", QByteArray("md5sum /q'\n'X"), QByteArray("md5sum"),
               Names{"/q\nX"});
        addRow("quotes of both kinds", QByteArray("sha256sum 'a b' \"c \\\"d\\\" \\$\\`\" e"),
               QByteArray("sha256sum"), Names{"a b", "c \"d\" $`", "e"});
        addRow("tabs and runs of blanks", QByteArray(" md5sum\t a  b "), QByteArray("md5sum"),
               Names{"a", "b"});
        addRow("an option-like name after --", QByteArray("md5sum -- -x -"), QByteArray("md5sum"),
               Names{"-x", "-"});
        addRow("a hash sign inside a word", QByteArray("md5sum a#b"), QByteArray("md5sum"),
               Names{"a#b"});
        addRow("an empty name", QByteArray("md5sum ''"), QByteArray("md5sum"), Names{""});
    }
    void linesAreSplitAsAShellSplitsThem() {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, tool);
        QFETCH(QList<QByteArray>, names);
        const std::optional<ChecksumCommand> command = parseChecksumCommand(line);
        QVERIFY(command);
        QCOMPARE(command->tool, tool);
        QCOMPARE(command->names, names);
    }

    // Nothing is ever run but the hash: a line that would have a shell run
    // something else, expand anything or read other files is refused whole.
    void anythingMoreIsNoCommand_data() {
        QTest::addColumn<QByteArray>("line");
        for (const char* line : {"",
                                 "   ",
                                 "ls",
                                 "rm -rf /",
                                 "md5 -r",
                                 "rclone md5sum",
                                 "/usr/bin/md5sum a",
                                 "echo ${ShellId}%ComSpec%",
                                 "md5sum a; rm b",
                                 "md5sum a && id",
                                 "md5sum a | sh",
                                 "md5sum a > b",
                                 "md5sum < a",
                                 "md5sum $(id)",
                                 "md5sum `id`",
                                 "md5sum $HOME",
                                 "md5sum \"$HOME\"",
                                 "md5sum \"`id`\"",
                                 "md5sum *",
                                 "md5sum a?",
                                 "md5sum [ab]",
                                 "md5sum {a,b}",
                                 "md5sum ~/a",
                                 "md5sum #a",
                                 "md5sum a\nrm b",
                                 "md5sum a\rb",
                                 "md5sum (a)",
                                 "md5sum a &",
                                 "md5sum !a",
                                 "md5sum 'open",
                                 "md5sum \"open",
                                 "md5sum a\\",
                                 "md5sum --check sums",
                                 "md5sum -c sums",
                                 "md5sum -b a",
                                 "MD5SUM a",
                                 "md5sum\x01 a",
                                 "a=b md5sum x"}) {
            QTest::newRow(line) << QByteArray(line);
        }
    }
    void anythingMoreIsNoCommand() {
        QFETCH(QByteArray, line);
        QVERIFY(!parseChecksumCommand(line));
    }

    void linesAreWrittenAsTheToolsWriteThem() {
        QCOMPARE(checksumLine("ab01", "/a b.txt"), QByteArray("ab01  /a b.txt\n"));
        // GNU coreutils escapes these three, and marks the line with a backslash.
        QCOMPARE(checksumLine("ab01", "q\nX\r\\"), QByteArray("\\ab01  q\\nX\\r\\\\\n"));
        QCOMPARE(checksumError("md5sum", "n\no", "No such file or directory"),
                 QByteArray("md5sum: n\\no: No such file or directory\n"));
    }

    void filesAreHashedAsTheToolsHashThem_data() {
        QTest::addColumn<QByteArray>("tool");
        QTest::addColumn<int>("algorithm");
        addRow("md5sum", QByteArray("md5sum"), int(QCryptographicHash::Md5));
        addRow("sha1sum", QByteArray("sha1sum"), int(QCryptographicHash::Sha1));
        addRow("sha256sum", QByteArray("sha256sum"), int(QCryptographicHash::Sha256));
    }
    void filesAreHashedAsTheToolsHashThem() {
        QFETCH(QByteArray, tool);
        QFETCH(int, algorithm);
        const auto a = QCryptographicHash::Algorithm(algorithm);
        login("R");
        const QByteArray five = hex("12345", a);
        // Names as given, relative ones from the root; a virtual folder is reached.
        const Ran r = run(tool + " /a.txt a\\ b.txt /q'\n'X sub/../v/v.txt");
        QCOMPARE(r.errors, QByteArray());
        QCOMPARE(r.output, five + "  /a.txt\n" + five + "  a b.txt\n\\" + five + "  /q\\nX\n" +
                               five + "  sub/../v/v.txt\n");
        QCOMPARE(r.status, 0);
        // Standard input, as rclone probes the command: empty, then a few bytes.
        QCOMPARE(run(tool).output, hex({}, a) + "  -\n");
        QCOMPARE(run(tool + " -", "abc\n").output, hex("abc\n", a) + "  -\n");
    }

    // What a download could not read, a checksum cannot either: each name is
    // answered in turn, and the exit status says whether all of them were.
    void filesOutOfReachAreNamedOnTheErrorStream() {
        login("R");
        const Ran r = run("md5sum none.txt ../outside.txt out /a.txt sub ''");
        QCOMPARE(r.output, hex("12345", QCryptographicHash::Md5) + "  /a.txt\n");
        QCOMPARE(r.errors, QByteArray("md5sum: none.txt: No such file or directory\n"
                                      "md5sum: ../outside.txt: No such file or directory\n"
                                      "md5sum: out: Permission denied\n"
                                      "md5sum: sub: Is a directory\n"
                                      "md5sum: : No such file or directory\n"));
        QCOMPARE(r.status, 1);
        // Without the read right nothing is hashed.
        login("WDBM");
        const Ran refused = run("sha1sum a.txt");
        QCOMPARE(refused.output, QByteArray());
        QCOMPARE(refused.errors, QByteArray("sha1sum: a.txt: Permission denied\n"));
        QCOMPARE(refused.status, 1);
        // Standard input is taken up to a limit, never kept past it.
        login("R");
        const Ran tooLong = run("md5sum", QByteArray(ChecksumRun::kMaxInput + 1, 'x'));
        QCOMPARE(tooLong.errors, QByteArray("md5sum: -: Input too long\n"));
        QCOMPARE(tooLong.status, 1);
    }
};

QTEST_GUILESS_MAIN(TestChecksumCommand)
#include "test_checksumcommand.moc"
