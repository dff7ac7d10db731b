// The trust questions of a remote window.
#include "window/TrustDialog.h"

#include "core/Messages.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace kv::ui {

QString whereToReadFingerprint() {
    return QStringLiteral("Sul server l'impronta si legge con il comando \"kestrova admin "
                          "fingerprint\" oppure nel pannello Impostazioni, gruppo "
                          "\"Amministrazione remota\".");
}

QString firstTrustText(const RemoteServerAddress& server, const QString& seen) {
    return QStringLiteral("Prima connessione a %1.\n\nImpronta del certificato di "
                          "amministrazione del server:\n%2\n\n%3 Fidarsi di questo server solo "
                          "se le due impronte sono uguali.\n\nFidarsi del server?")
        .arg(server.text(), seen, whereToReadFingerprint());
}

QString changedTrustText(const RemoteServerAddress& server, const QString& known,
                         const QString& seen) {
    return QStringLiteral("Il certificato di amministrazione di %1 è cambiato: la connessione è "
                          "stata interrotta.\n\nImpronta di cui ci si fidava:\n%2\n\nImpronta "
                          "mostrata ora dal server:\n%3\n\nSe il certificato non è stato "
                          "rigenerato sul server, qualcuno potrebbe intercettare la connessione. "
                          "%4")
        .arg(server.text(), known, seen, whereToReadFingerprint());
}

namespace {

// A question whose fingerprints can be selected and copied.
bool ask(QWidget* parent, const QString& text, const QString& yes, const QString& no) {
    QMessageBox box(QMessageBox::Warning, kProgramTitle, text, QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("TrustQuestion"));
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPushButton* trust = box.addButton(yes, QMessageBox::AcceptRole);
    QPushButton* refuse = box.addButton(no, QMessageBox::RejectRole);
    box.setDefaultButton(refuse);
    box.setEscapeButton(refuse);
    box.exec();
    return box.clickedButton() == trust;
}

} // namespace

bool askTrustFirst(QWidget* parent, const RemoteServerAddress& server, const QString& seen) {
    return ask(parent, firstTrustText(server, seen), QStringLiteral("Fidati e connetti"),
               QStringLiteral("Non connettere"));
}

bool askTrustChanged(QWidget* parent, const RemoteServerAddress& server, const QString& known,
                     const QString& seen) {
    return ask(parent, changedTrustText(server, known, seen),
               QStringLiteral("Fidati del nuovo certificato"), QStringLiteral("Chiudi"));
}

std::optional<QString> askPasswordAgain(QWidget* parent, const RemoteServerAddress& server,
                                        const QString& reason) {
    bool ok = false;
    const QString password =
        QInputDialog::getText(parent, kProgramTitle,
                              QStringLiteral("%1 (%2).\nPassword di amministrazione del server:")
                                  .arg(reason, server.text()),
                              QLineEdit::Password, QString(), &ok);
    if (!ok)
        return std::nullopt;
    return password;
}

} // namespace kv::ui
