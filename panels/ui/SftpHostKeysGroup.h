#pragma once
// The host key fingerprints of the Impostazioni panel's SFTP group,
// read-only, read again whenever the panel is shown (SFTP may have made the
// keys since).

#include <QObject>

class QLabel;
class QWidget;

namespace kv::ui {

class PanelHost;

class SftpHostKeysGroup : public QObject {
    Q_OBJECT
public:
    SftpHostKeysGroup(QWidget* panel, PanelHost& host, int& top);

    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    PanelHost& host_;
    QLabel* fingerprints_ = nullptr;
};

} // namespace kv::ui
