#include "panels/logic/IpListLogic.h"

#include "access/DataView.h"
#include "settings/AddressPattern.h"

#include <QSqlTableModel>

#include <cmath>

namespace kv::admin {

std::optional<QString> typedEntryProblem(const access::DataView& list, int row,
                                         const QString& entry) {
    return access::listEntryProblem(list.tableModel()->database(), list.source(), entry,
                                    list.rowidAt(row));
}

void keepEntriesWhole(access::DataView& list) {
    list.setNewRowCheck([](const access::DataView& row) {
        return !row.Field(QStringLiteral("IP")).trimmed().isEmpty();
    });
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

bool cmdNuovoIP(access::DataView& list) {
    if (list.isNewRow() && list.Field(QStringLiteral("IP")).trimmed().isEmpty())
        return true; // the one still to be typed in
    return list.AddNew();
}

QString deleteEntryQuestion(int index, const QString& entry) {
    return QStringLiteral("Eliminare \"%1\" dalla lista degli IP %2?")
        .arg(entry, index == 0 ? QStringLiteral("autorizzati") : QStringLiteral("bloccati"));
}

bool cmdEliminaIP(access::DataView& list, int index, Messages& messages) {
    if (!list.hasCurrentRow())
        return false;
    if (list.isNewRow()) {
        list.CancelUpdate(); // never stored: nothing to ask about
        list.MoveLast();     // the row before it, as after deleting the last
        return true;
    }
    const QString entry = list.Field(QStringLiteral("IP")).trimmed();
    if (!entry.isEmpty() && !messages.confirm(deleteEntryQuestion(index, entry)))
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
    if (!settings::AddressPattern::parse(*address)) {
        messages.show(settings::invalidEntryMessage(*address), MessageIcon::Exclamation);
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
