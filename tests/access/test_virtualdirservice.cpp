// The virtual folder service: folders found by owner, added, changed and
// removed as the command line and the folder editor ask, each judged by the
// entry checks; a refused one leaves accounts.dat as it was.

#include "access/AccountDatabase.h"
#include "access/VirtualDirService.h"
#include "tests/support/DbTestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace Qt::StringLiterals;
using kv::access::VirtualDirEntry;
using kv::access::VirtualDirField;
using kv::access::VirtualDirService;

class TestVirtualDirService : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<kv::access::AccountDatabase> db_;
    QString root_;

    QString file() const { return db_->filePath(); }
    QStringList rows() const {
        return kv::testing::texts(kv::testing::column(
            file(), u"SELECT user || ':' || name || ':' || source || ':' || destination FROM "
                    "virtualdirs ORDER BY rowid"_s));
    }
    QString placed(QString text) const { return text.replace(u"{root}"_s, root_); }

private Q_SLOTS:
    void init() {
        QFile::remove(dir_.filePath(u"accounts.dat"_s));
        QVERIFY(QDir(dir_.path()).mkpath(u"root/sub"_s));
        root_ = dir_.filePath(u"root"_s);
        db_ = std::make_unique<kv::access::AccountDatabase>(dir_.filePath(u"accounts.dat"_s));
        QVERIFY(db_->open());
        QCOMPARE(kv::testing::runSql(file(),
                                     {u"UPDATE settings SET rootdir = '%1'"_s.arg(root_),
                                      u"INSERT INTO users (login, enabled) VALUES ('bob', 1)"_s,
                                      u"INSERT INTO virtualdirs (name, source, destination, user) "
                                      "VALUES ('doc', '', '%1/sub', 1)"_s.arg(root_)}),
                 QString());
    }
    void cleanup() { db_.reset(); }

    void owners() {
        VirtualDirService folders(db_->connection());
        QCOMPARE(folders.ownerOf(u"bob"_s), std::optional<qint64>(1));
        QCOMPARE(folders.ownerOf(u"ANONYMOUS"_s), std::optional<qint64>(0));
        QCOMPARE(folders.ownerOf(u"nobody"_s), std::nullopt);
    }

    void add_data() {
        QTest::addColumn<qint64>("owner");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("position");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("at the root")
            << qint64(1) << u"docs"_s << u""_s << u"{root}/sub"_s << QString();
        QTest::newRow("same name elsewhere")
            << qint64(1) << u"doc"_s << u"{root}/sub"_s << u"{root}/sub"_s << QString();
        QTest::newRow("anonymous's own")
            << qint64(0) << u"doc"_s << u""_s << u"{root}/sub"_s << QString();
        QTest::newRow("same name, same place") << qint64(1) << u"doc"_s << u""_s << u"{root}/sub"_s
                                               << u"La cartella virtuale \"doc\" esiste già"_s;
        QTest::newRow("two segments") << qint64(1) << u"a/b"_s << u""_s << u"{root}/sub"_s
                                      << u"Nome di cartella virtuale non valido: \"a/b\""_s;
        QTest::newRow("outside the root")
            << qint64(1) << u"x"_s << u"/"_s << u"{root}/sub"_s
            << u"La cartella \"/\" non è dentro la cartella principale \"{root}\""_s;
        QTest::newRow("missing destination") << qint64(1) << u"x"_s << u""_s << u"{root}/missing"_s
                                             << u"La cartella \"{root}/missing\" non esiste"_s;
    }
    void add() {
        QFETCH(qint64, owner);
        QFETCH(QString, name);
        QFETCH(QString, position);
        QFETCH(QString, destination);
        QFETCH(QString, refusal);
        VirtualDirService folders(db_->connection());
        const QStringList before = rows();
        const VirtualDirEntry entry{name, placed(position), placed(destination)};
        const auto added = folders.add(owner, entry);
        if (!refusal.isEmpty()) {
            QCOMPARE(std::get<QString>(added), placed(refusal));
            QCOMPARE(rows(), before);
            return;
        }
        QVERIFY(std::holds_alternative<qint64>(added));
        QVERIFY(folders.find(owner, name));
        // Stored as given, an empty position as empty text (never null).
        QCOMPARE(rows(), before + QStringList{u"%1:%2:%3:%4"_s.arg(owner).arg(
                                      name, placed(position), placed(destination))});
        QCOMPARE(folders.folders(owner).last().rowid, std::get<qint64>(added));
    }

    void changeAndRemove() {
        VirtualDirService folders(db_->connection());
        const qint64 doc = *folders.find(1, u"doc"_s);
        QCOMPARE(folders.change(1, doc, VirtualDirField::Name, u"a/b"_s),
                 std::optional(u"Nome di cartella virtuale non valido: \"a/b\""_s));
        QCOMPARE(folders.change(1, doc, VirtualDirField::Name, u"docs"_s), std::nullopt);
        QCOMPARE(folders.change(1, doc, VirtualDirField::Position, placed(u"{root}/sub"_s)),
                 std::nullopt);
        QCOMPARE(rows(), QStringList{placed(u"1:docs:{root}/sub:{root}/sub"_s)});
        // Another owner's row is not this owner's to change or remove.
        QVERIFY(folders.change(0, doc, VirtualDirField::Name, u"x"_s));
        QCOMPARE(folders.remove(0, doc), std::nullopt);
        QCOMPARE(rows().size(), 1);
        QCOMPARE(folders.removeAll(1), std::nullopt);
        QVERIFY(rows().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestVirtualDirService)
#include "test_virtualdirservice.moc"
