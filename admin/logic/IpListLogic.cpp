#include "admin/logic/IpListLogic.h"

#include "access/AddressPattern.h"
#include "access/DataView.h"

#include <cmath>

namespace kv::admin {

QString alreadyListedMessage(const QString& address) {
    return QStringLiteral("L'indirizzo \"%1\" è già inserito nella lista").arg(address);
}

std::optional<QString> listEntryProblem(const QString& entry) {
    if (entry.trimmed().isEmpty() || access::AddressPattern::parse(entry))
        return std::nullopt;
    return access::invalidEntryMessage(entry);
}

IpListMask AdattaGrigliaIP(int rowHeight, int rowCount, int gridHeight) {
    const int filled = rowHeight * rowCount + 15;
    IpListMask mask;
    if (gridHeight > filled) {
        mask.top = filled;
        mask.height = gridHeight - filled - 15;
    }
    // A cover of no height would keep an old size and could hide the buttons.
    mask.visible = mask.height >= 1;
    if (!mask.visible)
        mask = {};
    return mask;
}

void cmdNuovoIP(access::DataView& list) {
    if (!list.AddNew())
        return;
    if (list.Update())
        list.MoveToLastModified();
}

QString deleteEntryQuestion(int index, const QString& entry) {
    return QStringLiteral("Eliminare \"%1\" dalla lista degli IP %2?")
        .arg(entry, index == 0 ? QStringLiteral("autorizzati") : QStringLiteral("bloccati"));
}

bool cmdEliminaIP(access::DataView& list, int index, bool justAdded, Messages& messages) {
    if (!list.hasCurrentRow())
        return false;
    const QString entry = list.Field(QStringLiteral("IP")).trimmed();
    if (!justAdded && !entry.isEmpty() && !messages.confirm(deleteEntryQuestion(index, entry)))
        return false;
    if (!list.Delete())
        return false;
    list.MoveNext();
    if (list.AtEOF())
        list.MovePrevious();
    return true;
}

QString blockListOffQuestion(const QString& address) {
    return QStringLiteral("L'indirizzo \"%1\" è stato aggiunto agli IP bloccati, ma la lista "
                          "degli IP bloccati non è attiva e il blocco non ha effetto.\n\n"
                          "Attivare la lista degli IP bloccati?")
        .arg(address);
}

AddAddressResult addClientAddress(access::DataView& list, const std::optional<QString>& address,
                                  Messages& messages) {
    // A connection that has not logged in yet has no address: nothing to list.
    if (!address || address->trimmed().isEmpty()) {
        messages.show(kNoUserSelectedMessage, MessageIcon::Exclamation);
        return AddAddressResult::NoSelection;
    }
    if (const std::optional<QString> problem = listEntryProblem(*address)) {
        messages.show(*problem, MessageIcon::Exclamation);
        return AddAddressResult::NotAnAddress;
    }
    // Looked up on a copy, so the row the operator is on stays current.
    const auto copy = list.Clone();
    if (copy->FindFirst(QStringLiteral("IP = ?"), {*address}) && copy->hasCurrentRow()) {
        messages.show(alreadyListedMessage(*address), MessageIcon::Exclamation);
        return AddAddressResult::AlreadyListed;
    }
    if (!list.AddNew())
        return AddAddressResult::Failed;
    if (!list.setField(QStringLiteral("IP"), *address) || !list.Update()) {
        list.CancelUpdate();
        return AddAddressResult::Failed;
    }
    return AddAddressResult::Added;
}

} // namespace kv::admin
