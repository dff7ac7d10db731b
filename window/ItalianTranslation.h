#pragma once
// Qt's own texts (standard buttons, the folder dialog, the text fields'
// context menu) in Italian whatever the locale, as the rest of the window is:
// the translations Qt ships, the few texts they lack, and Italy's formats for
// what Qt takes from the system locale (file sizes and dates in the folder
// dialog).

class QCoreApplication;

namespace kv::ui {

// Loads Qt's Italian catalogue from the translations folder into `app` and
// makes the locale Italy's; false when the catalogue is not installed (its
// texts then stay in English).
bool installItalianTranslation(QCoreApplication& app);

} // namespace kv::ui
