#pragma once
// The notification-area icon that stands for the minimised window: the
// offline or online icon, the tip "Kestrova Vellim - Offline"/"- Online", a
// menu (Start, Stop, Ripristina, Esci) on the right button and restore on a left
// double click. Where the platform has no tray, nothing is added and the
// window is never hidden, so the operator always has a way back.

#include <QIcon>
#include <QObject>
#include <QString>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace kv::ui {

QString trayTip(qint16 serverState);

class TrayIcon : public QObject {
    Q_OBJECT
public:
    TrayIcon(bool trayAvailable, QObject* parent = nullptr);
    ~TrayIcon() override;

    bool available() const { return available_; }
    bool shown() const { return shown_; }
    QMenu* menu() const { return SysTray; }
    QAction* mnuStart() const { return mnuStart_; }
    QAction* mnuStop() const { return mnuStop_; }
    QAction* mnuRipristina() const { return mnuRipristina_; }
    QAction* mnuEsci() const { return mnuEsci_; }
    QString tip() const { return tip_; }
    bool showsOnline() const { return online_; }

    // TrayAdd; false when the platform has no tray (the caller keeps the window).
    bool add(qint16 serverState);
    // TrayModify: icon and tip for the state (also remembered while not shown).
    void modify(qint16 serverState);
    // TrayDelete.
    void remove();

Q_SIGNALS:
    void startChosen();
    void stopChosen();
    void restoreChosen(); // "Ripristina" or a left double click
    void exitChosen();

private:
    bool available_;
    bool shown_ = false;
    bool online_ = false;
    QString tip_;
    QIcon offline_;
    QIcon onlineIcon_;
    QMenu* SysTray;
    QAction* mnuStart_;
    QAction* mnuStop_;
    QAction* mnuRipristina_;
    QAction* mnuEsci_;
    QSystemTrayIcon* icon_ = nullptr;
};

} // namespace kv::ui
