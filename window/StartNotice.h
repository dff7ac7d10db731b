#pragma once
// The notice shown after a start (frmAvviso1): some panels become inactive
// while the server runs. Ticking "Non mostrare più questo avviso" and closing
// it, by the button or the close box, stores NoShow1 = "1".

#include <QDialog>

class QCheckBox;

namespace kv {
class SettingsStore;
}

namespace kv::ui {

inline const QString kStartNoticeText = QStringLiteral(
    "Avviando il server alcune delle schede (Account, Impostazioni, Sicurezza) diverranno "
    "inattive: per modificarne le impostazioni sarà necessario arrestare il server.");

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
