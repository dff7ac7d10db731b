#include "window/ItalianTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace kv::ui {

bool installItalianTranslation(QCoreApplication& app) {
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
