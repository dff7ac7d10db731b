#pragma once
// Qt's own texts (standard buttons, the folder dialog, the text fields'
// context menu) in Italian, from the translations Qt ships.

class QCoreApplication;

namespace kv::ui {

// Loads Qt's Italian catalogue from the translations folder into `app`;
// false when it is not installed (the texts then stay in English).
bool installItalianTranslation(QCoreApplication& app);

} // namespace kv::ui
