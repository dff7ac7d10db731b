#pragma once
// The notice shown after a start (frmAvviso1): how edits made while the
// server runs reach it. Ticking "Non mostrare più questo avviso" and closing
// it, by the button or the close box, stores NoShow1 = "1".

#include <QDialog>

class QCheckBox;

namespace kv {
class SettingsStore;
}

namespace kv::ui {

inline const QString kStartNoticeText = QStringLiteral(
    "Il server è in funzione. Le schede Account, Impostazioni e Sicurezza restano modificabili: "
    "un account cambiato vale dal suo prossimo accesso, le impostazioni vengono applicate "
    "appena salvate e il log dice se il server le ha accettate.");

// True when the notice is to be shown (NoShow1 is not "1").
bool startNoticeWanted(const SettingsStore& settings);

class StartNotice : public QDialog {
    Q_OBJECT
public:
    StartNotice(SettingsStore& settings, QWidget* parent = nullptr);
    QCheckBox* check() const { return Check1; }

protected:
    void done(int result) override;

private:
    SettingsStore& settings_;
    QCheckBox* Check1;
};

} // namespace kv::ui
