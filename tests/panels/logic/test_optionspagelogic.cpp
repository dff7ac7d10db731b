// "Altre opzioni" without a window: its rows come from the option catalog,
// and its values are judged and kept as every settings box's are.

#include "access/DataView.h"
#include "panels/logic/OptionsPageLogic.h"
#include "tests/support/OptionsFixture.h"

#include <QTest>

using namespace Qt::StringLiterals;
using kv::admin::OptionRow;
using kv::admin::OptionsPageLogic;
using kv::settings::OptionDef;
using kv::settings::OptionKind;

namespace {

// The program's catalog with two options a later version might add.
const kv::settings::OptionCatalog& widerCatalog() {
    static const kv::settings::OptionCatalog catalog = [] {
        QList<OptionDef> options;
        for (const auto store :
             {kv::settings::OptionStore::SettingsRow, kv::settings::OptionStore::Options})
            options << kv::settings::optionCatalog().options(store);
        OptionDef upload;
        upload.name = u"upload_max_mib"_s;
        upload.kind = OptionKind::Integer;
        upload.maximum = 100;
        upload.defaultValue = u"0"_s;
        upload.caption = u"Dimensione massima di un file ricevuto in MiB"_s;
        OptionDef secret;
        secret.name = u"proxy_password"_s;
        secret.kind = OptionKind::Path;
        secret.caption = u"Password del proxy"_s;
        secret.writeOnly = true;
        options << upload << secret;
        return kv::settings::OptionCatalog(options, {});
    }();
    return catalog;
}

struct Fixture : kv::testing::OptionsFixture {
    kv::access::OptionsTable table{db.connection(), widerCatalog()};
    std::unique_ptr<OptionsPageLogic> logic;
    Fixture() {
        views->openAll();
        logic = std::make_unique<OptionsPageLogic>(table, views->Data2());
    }
    OptionRow row(const QString& name) const {
        for (const OptionRow& r : logic->rows()) {
            if (r.name == name)
                return r;
        }
        return {};
    }
};

QStringList names(const QList<OptionRow>& rows) {
    QStringList out;
    for (const OptionRow& row : rows)
        out << row.name;
    return out;
}

} // namespace

class TestOptionsPageLogic : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every setting no group shows, the settings row's columns first; a name
    // the other groups list but the catalog lacks would be a misspelling.
    void rowsAreTheSettingsNoGroupShows() {
        kv::testing::OptionsFixture f;
        f.views->openAll();
        OptionsPageLogic logic(f.views->options(), f.views->Data2());
        QCOMPARE(names(logic.rows()),
                 (QStringList{u"debugmode"_s, u"resolvelinks"_s, u"datalingertime"_s,
                              u"log_max_mib"_s, u"log_keep"_s}));
        const kv::settings::OptionCatalog& catalog = kv::settings::optionCatalog();
        for (const QString& name : OptionsPageLogic::shownElsewhere())
            QVERIFY2(catalog.find(name) ||
                         catalog.find(name, kv::settings::OptionStore::SettingsRow),
                     qPrintable(name));
        QCOMPARE(logic.rows().at(3).caption,
                 u"Dimensione massima di ftp.log in MiB (0 = nessun limite) (predefinito: 0)"_s);
        QCOMPARE(logic.rows().at(0).caption,
                 u"Modalità di debug del motore FTP (predefinito: vuoto)"_s);
    }

    // An option added to the catalog appears with its caption and default.
    void aNewOptionAppears() {
        Fixture f;
        QCOMPARE(names(f.logic->rows()).mid(5),
                 (QStringList{u"upload_max_mib"_s, u"proxy_password"_s}));
        QCOMPARE(f.row(u"upload_max_mib"_s).caption,
                 u"Dimensione massima di un file ricevuto in MiB (predefinito: 0)"_s);
        QCOMPARE(f.logic->shown(f.row(u"upload_max_mib"_s)), u"0"_s);
    }

    // A value is judged with the command line's words; a refused one is not
    // kept, an accepted one waits on its table (or the settings row).
    void valuesAreJudgedAndKept_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("shown");
        QTest::newRow("new option") << u"upload_max_mib"_s << u"50"_s << QString() << u"50"_s;
        QTest::newRow("new option refused")
            << u"upload_max_mib"_s << u"500"_s
            << u"Opzione upload_max_mib: 500 non è un numero intero da 0 a 100"_s << u"0"_s;
        QTest::newRow("settings column") << u"debugmode"_s << u"3"_s << QString() << u"3"_s;
        QTest::newRow("settings column refused")
            << u"debugmode"_s << u"x"_s << u"Modalità di debug non valida: \"x\" (-32768-32767)"_s
            << u"0"_s;
    }
    void valuesAreJudgedAndKept() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        Fixture f;
        const OptionRow row = f.row(name);
        QTEST(f.logic->change(row, text).value_or(QString()), "reason");
        QTEST(f.logic->shown(row), "shown");
        QCOMPARE(f.views->Data2().isDirty(), name == u"debugmode"_s && text == u"3"_s);
        QCOMPARE(f.table.isDirty(), name == u"upload_max_mib"_s && text == u"50"_s);
    }

    // A write-only option is written, never shown back; once set, its box
    // shows the mask, and an empty box leaves it as it is.
    void aWriteOnlyOptionIsMasked() {
        Fixture f;
        const OptionRow row = f.row(u"proxy_password"_s);
        QVERIFY(row.writeOnly);
        QCOMPARE(f.logic->placeholder(row), QString());
        QCOMPARE(f.logic->change(row, u"s3greto"_s), std::nullopt);
        QCOMPARE(f.logic->shown(row), QString());
        QCOMPARE(f.logic->placeholder(row), kv::settings::kWriteOnlyMask);
        QCOMPARE(f.table.commit(), std::nullopt);
        QCOMPARE(f.logic->change(row, QString()), std::nullopt);
        QVERIFY(!f.table.isDirty());
        QCOMPARE(f.storedWhere(u"name = 'proxy_password'"_s),
                 QStringList{u"proxy_password=s3greto"_s});
        QCOMPARE(f.logic->placeholder(row), kv::settings::kWriteOnlyMask);
    }
};

QTEST_GUILESS_MAIN(TestOptionsPageLogic)
#include "test_optionspagelogic.moc"
