#include "window/ItalianTranslation.h"

#include <QCoreApplication>
#include <QHash>
#include <QLibraryInfo>
#include <QTranslator>
#include <QtCore/private/qlocale_p.h>

namespace kv::ui {

namespace {

// Texts of Qt 6 that its Italian catalogue does not have yet (the folder
// dialog's type column), whatever their disambiguation.
class MissingQtTexts : public QTranslator {
public:
    using QTranslator::QTranslator;
    QString translate(const char* context, const char* sourceText, const char*,
                      int) const override {
        static const QHash<QByteArray, QString> fileTypes = {
            {QByteArrayLiteral("Folder"), QStringLiteral("Cartella")},
            {QByteArrayLiteral("Drive"), QStringLiteral("Unità")},
            {QByteArrayLiteral("Shortcut"), QStringLiteral("Collegamento")},
        };
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0)
            return {};
        return fileTypes.value(QByteArray(sourceText));
    }
    bool isEmpty() const override { return false; }
};

// The system locale as Qt reports it: Italy's, whatever the environment says.
// Only the window's widgets ask it; what the program writes (log lines,
// listings, the command line) names its locale itself.
class ItalianSystemLocale : public QSystemLocale {
public:
    QLocale fallbackLocale() const override { return QLocale(QLocale::Italian, QLocale::Italy); }
    // Nothing from the environment: every value comes from the locale above.
    QVariant query(QueryType, QVariant) const override { return {}; }
};

} // namespace

bool installItalianTranslation(QCoreApplication& app) {
    static ItalianSystemLocale italianSystem;
    QCoreApplication::installTranslator(new MissingQtTexts(&app));
    auto* translator = new QTranslator(&app);
    // "qt_it" gathers the catalogues of every Qt module that has one.
    if (!translator->load(QStringLiteral("qt_it"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

} // namespace kv::ui
