#pragma once
// The address lists of the "Sicurezza" panel (0: allowed, IPok; 1: blocked,
// IPko): adding an empty entry, deleting the current one, refusing a typed
// entry that is no address pattern, the cover over the grid's empty rows, and
// putting a connected client's address on a list.

#include "core/Messages.h"

#include <QString>
#include <optional>

namespace kv::access {
class DataView;
}

namespace kv::admin {

inline const QString kNoUserSelectedMessage = QStringLiteral("Non è selezionato alcun utente");

// "L'indirizzo "<address>" è già inserito nella lista"
QString alreadyListedMessage(const QString& address);

// The operator's message for a typed list entry that is no address, CIDR
// block, range or wildcard address; nullopt for one that is, and for an empty
// entry (the row "Nuovo" adds, still to be typed in).
std::optional<QString> listEntryProblem(const QString& entry);

// Twips, inside the list's group (whose top edge the grid shares).
struct IpListMask {
    bool visible = false;
    int top = 0;
    int height = 0;
};

// The cover starts right under the last entry and reaches 15 twips above the
// grid's bottom; it is hidden when the entries fill the grid.
IpListMask AdattaGrigliaIP(int rowHeight, int rowCount, int gridHeight);

// "Nuovo": an empty entry, saved at once and made current.
void cmdNuovoIP(access::DataView& list);
// The question before "Elimina" deletes `entry` from list `index`.
QString deleteEntryQuestion(int index, const QString& entry);

// "Elimina": deletes the current entry; the following one becomes current, or
// the one before it when the last entry was deleted. The operator is asked
// first unless the entry is empty or `justAdded` (the row "Nuovo" made and
// the operator is still typing). True when the entry is gone.
bool cmdEliminaIP(access::DataView& list, int index, bool justAdded, Messages& messages);

// The question after "Blocca" put `address` on the block list while that list
// is switched off.
QString blockListOffQuestion(const QString& address);

enum class AddAddressResult { NoSelection, AlreadyListed, NotAnAddress, Added, Failed };

// "Autorizza"/"Blocca": adds the selected client's address to `list` unless
// it is there already or is no address (a host name never looked up),
// telling the operator why nothing was added. The list's current row does
// not move.
AddAddressResult addClientAddress(access::DataView& list, const std::optional<QString>& address,
                                  Messages& messages);

} // namespace kv::admin
