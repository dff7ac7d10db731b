// Path patterns of the action rules: * and ? stay within one folder name,
// ** crosses folders, everything else is literal, and malformed patterns are
// refused with a reason.

#include "actions/PathPattern.h"

#include <QTest>

using kv::actions::PathPattern;

class TestPathPattern : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void matching_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("matched");
        QTest::addColumn<QStringList>("missed");
        // clang-format off
        QTest::newRow("star stays in its folder") << "/scansioni/*.pdf" << QStringList{"/scansioni/a.pdf", "/scansioni/.pdf"} << QStringList{"/scansioni/sub/a.pdf", "/scansioni/a.pdf.txt", "/altro/a.pdf", "/scansioni/a.PDF"};
        QTest::newRow("double star crosses folders") << "/in/**" << QStringList{"/in/a", "/in/x/y/z.pdf"} << QStringList{"/inx/a", "/in"};
        QTest::newRow("double star folder matches none too") << "/**/*.jpg" << QStringList{"/a.jpg", "/cam/1/a.jpg"} << QStringList{"/a.jpeg"};
        QTest::newRow("question mark is one character") << "/img?.png" << QStringList{"/img1.png"} << QStringList{"/img12.png", "/img/.png"};
        QTest::newRow("regex characters are literal") << "/a+b (1)[x].$" << QStringList{"/a+b (1)[x].$"} << QStringList{"/aab (1)x.$"};
        QTest::newRow("exact path") << "/ordini.csv" << QStringList{"/ordini.csv"} << QStringList{"/ordini.csv/", "/x/ordini.csv"};
        QTest::newRow("accented names") << "/città/*" << QStringList{"/città/è.txt"} << QStringList{"/citta/e.txt"};
        // clang-format on
    }
    void matching() {
        QFETCH(QString, pattern);
        QFETCH(QStringList, matched);
        QFETCH(QStringList, missed);
        const auto parsed = PathPattern::parse(pattern);
        QVERIFY(parsed);
        for (const QString& path : matched)
            QVERIFY2(parsed->matches(path), qPrintable(path));
        for (const QString& path : missed)
            QVERIFY2(!parsed->matches(path), qPrintable(path));
    }

    void refused_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("why");
        QTest::newRow("relative") << QString("scan/*.pdf") << QString("deve iniziare con /");
        QTest::newRow("empty") << QString("") << QString("deve iniziare con /");
        QTest::newRow("control") << QString("/a\nb") << QString("caratteri di controllo");
        QTest::newRow("triple star") << QString("/a/***") << QString("non ***");
    }
    void refused() {
        QFETCH(QString, pattern);
        QFETCH(QString, why);
        QString error;
        QVERIFY(!PathPattern::parse(pattern, &error));
        QVERIFY2(error.contains(why), qPrintable(error));
        QVERIFY(error.startsWith(QStringLiteral("Percorso \"")));
    }
};

QTEST_GUILESS_MAIN(TestPathPattern)
#include "test_pathpattern.moc"
