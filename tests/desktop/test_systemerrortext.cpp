// System error texts that reach the operator are said in Italian.

#include "desktop/SystemErrorText.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class TestSystemErrorText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void phrasesAreItalian_data() {
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("italian");
        QTest::newRow("missing file")
            << u"impossibile leggere il certificato /x/cert.pem (No such file or directory)"_s
            << u"impossibile leggere il certificato /x/cert.pem (file o cartella inesistente)"_s;
        QTest::newRow("permission")
            << u"tls_private_key: impossibile leggere k.pem (Permission denied)"_s
            << u"tls_private_key: impossibile leggere k.pem (permesso negato)"_s;
        QTest::newRow("port in use")
            << u"Impossibile avviare il server: controllare indirizzo IP e porta\nThe bound address is already in use"_s
            << u"Impossibile avviare il server: controllare indirizzo IP e porta\nindirizzo già in uso"_s;
        QTest::newRow("errno text")
            << u"bind: Address already in use"_s << u"bind: indirizzo già in uso"_s;
        QTest::newRow("letter case") << u"permission denied"_s << u"permesso negato"_s;
        QTest::newRow("italian already") << u"Porta non valida"_s << u"Porta non valida"_s;
        QTest::newRow("two at once") << u"No space left on device; Read-only file system"_s
                                     << u"spazio esaurito sul disco; file system in sola lettura"_s;
    }
    void phrasesAreItalian() {
        QFETCH(QString, english);
        QTEST(kv::shell::italianSystemErrors(english), "italian");
    }
};

QTEST_MAIN(TestSystemErrorText)
#include "test_systemerrortext.moc"
