// Who is asked which server the plain menu entry opens, and what is kept.
#include "core/StartFolderChoice.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <grp.h>
#include <unistd.h>

using namespace kv;

Q_DECLARE_METATYPE(std::optional<kv::StartFolder>)

namespace {
const std::optional<StartFolder> kAsk;
const std::optional<StartFolder> kService = StartFolder::Service;
const std::optional<StartFolder> kOwn = StartFolder::Own;
} // namespace

class TestStartFolderChoice : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void whoIsAsked_data() {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<bool>("member");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<std::optional<StartFolder>>("decided");
        QTest::newRow("no service here") << false << true << "" << kOwn;
        QTest::newRow("not in the group") << true << false << "servizio" << kOwn;
        QTest::newRow("member, never asked") << true << true << "" << kAsk;
        QTest::newRow("member who chose the service") << true << true << "servizio" << kService;
        QTest::newRow("member who chose their own") << true << true << "proprio" << kOwn;
        QTest::newRow("something else stored") << true << true << "boh" << kAsk;
    }
    void whoIsAsked() {
        QFETCH(bool, installed);
        QFETCH(bool, member);
        QFETCH(QString, stored);
        MemorySettingsStore settings;
        settings.setValue(kAppTarrow, kSectionAppIni, "ServerAllAvvio", stored);
        const StartFolderChoice choice(settings);
        QTEST(choice.decided({installed, member}), "decided");
    }

    void anAnswerIsKeptUntilForgotten() {
        MemorySettingsStore settings;
        StartFolderChoice choice(settings);
        const ServiceFacts member{true, true};
        choice.answer(StartFolder::Service, true);
        QCOMPARE(choice.decided(member), kService);
        QCOMPARE(settings.value(kAppTarrow, kSectionAppIni, "ServerAllAvvio"), "servizio");
        choice.answer(StartFolder::Own, true);
        QCOMPARE(choice.decided(member), kOwn);
        choice.forget();
        QCOMPARE(choice.decided(member), kAsk);
        // Without "do not ask again" the question comes back next time.
        choice.answer(StartFolder::Service, false);
        QCOMPARE(choice.decided(member), kAsk);
        // Leaving the group or the service's removal opens one's own, whatever was kept.
        choice.answer(StartFolder::Service, true);
        QCOMPARE(choice.decided({true, false}), kOwn);
        QCOMPARE(choice.decided({false, true}), kOwn);
    }

    void factsOfThisMachine() {
        QTemporaryDir dir;
        const QString unit = dir.filePath("kestrova.service");
        const QString group = QString::fromLocal8Bit(getgrgid(getegid())->gr_name);
        QCOMPARE(serviceFacts(dir.filePath("manca"), {unit}, group).installed, false);
        QCOMPARE(serviceFacts(dir.path(), {unit}, group).installed, true);
        QFile file(unit);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QCOMPARE(serviceFacts(dir.filePath("manca"), {unit}, group).installed, true);
        QCOMPARE(serviceFacts(dir.path(), {}, group).member, true);
        QCOMPARE(serviceFacts(dir.path(), {}, "kv-gruppo-che-non-esiste").member, false);
    }
};

QTEST_GUILESS_MAIN(TestStartFolderChoice)
#include "test_startfolderchoice.moc"
