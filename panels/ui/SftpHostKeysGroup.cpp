#include "panels/ui/SftpHostKeysGroup.h"

#include "panels/logic/SftpHostKeyText.h"
#include "panels/ui/PanelHost.h"
#include "panels/ui/PanelParts.h"

#include <QEvent>
#include <QLabel>

namespace kv::ui {

SftpHostKeysGroup::SftpHostKeysGroup(QWidget* panel, PanelHost& host, int& top)
    : QObject(panel), host_(host) {
    addText(panel,
            QStringLiteral("Chiavi host: le impronte che un client SFTP mostra al primo "
                           "collegamento. Confrontarle con queste prima di accettare il server."),
            top);
    fingerprints_ = new QLabel(panel);
    fingerprints_->setObjectName(QStringLiteral("lblSftpFingerprints"));
    fingerprints_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont fixed = fingerprints_->font();
    fixed.setFamily(QStringLiteral("monospace"));
    fixed.setStyleHint(QFont::Monospace);
    fingerprints_->setFont(fixed);
    fingerprints_->setWordWrap(true);
    placeChild(fingerprints_, 2 * kLineHeight, top);
    panel->installEventFilter(this);
    refresh();
}

void SftpHostKeysGroup::refresh() {
    fingerprints_->setText(admin::sftpHostKeyText(host_.dataFolder()));
}

bool SftpHostKeysGroup::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show)
        refresh();
    return QObject::eventFilter(watched, event);
}

} // namespace kv::ui
