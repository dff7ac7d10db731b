#include "window/StartFolderQuestion.h"

#include "core/Messages.h"
#include "window/Artwork.h"

#include <QCheckBox>
#include <QPushButton>

namespace kv::ui {

StartFolderQuestion::StartFolderQuestion(QWidget* parent) : QMessageBox(parent) {
    setObjectName(QStringLiteral("frmSceltaServer"));
    setWindowTitle(kProgramTitle);
    setWindowIcon(art::programIcon());
    setIcon(QMessageBox::Question);
    setText(QStringLiteral("Su questo PC è installato il servizio di sistema Kestrova Vellim, che "
                           "questo utente può amministrare.\n\nAprire il server del servizio o "
                           "il proprio server?"));
    setInformativeText(QStringLiteral("La scelta si può cambiare dal menu delle applicazioni, "
                                      "con «Scegli quale server aprire» di Kestrova Vellim."));
    service_ = addButton(QStringLiteral("Server del &servizio"), QMessageBox::AcceptRole);
    service_->setObjectName(QStringLiteral("cmdServizio"));
    own_ = addButton(QStringLiteral("Il &proprio server"), QMessageBox::RejectRole);
    own_->setObjectName(QStringLiteral("cmdProprio"));
    setDefaultButton(service_);
    setEscapeButton(own_);
    dontAsk_ = new QCheckBox(QStringLiteral("Non chiedere più"), this);
    dontAsk_->setObjectName(QStringLiteral("chkNonChiedere"));
    dontAsk_->setChecked(true);
    setCheckBox(dontAsk_);
}

StartFolderAnswer StartFolderQuestion::answer() const {
    return {clickedButton() == service_ ? StartFolder::Service : StartFolder::Own,
            dontAsk_->isChecked()};
}

} // namespace kv::ui
