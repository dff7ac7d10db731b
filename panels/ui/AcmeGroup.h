#pragma once
// The ACME part of the "Connessioni protette (FTPS)" group: the acme options
// (from the catalog, checked as every settings box is), the state of the
// certificate as the server the window shows tells it (names, issuer,
// expiry, next attempt; the last failure in red) and "Rinnova ora".

#include <QObject>

class QLabel;
class QPushButton;
class QTimer;
class QWidget;
class QJsonObject;

namespace kv::ui {

class PanelHost;

class AcmeGroup : public QObject {
    Q_OBJECT
public:
    AcmeGroup(QWidget* panel, PanelHost& host, int& top);

    // Asks the server for the state again (`renew`: an attempt first).
    void refresh(bool renew = false);

protected:
    // Asked again each time the panel shows: the window may have attached
    // to another server since.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void show(const QJsonObject& answer);

    QWidget* panel_;
    PanelHost& host_;
    QLabel* state_ = nullptr;
    QLabel* error_ = nullptr;
    QPushButton* renew_ = nullptr;
    QTimer* poll_ = nullptr; // while an attempt runs
};

} // namespace kv::ui
