#pragma once
// The address lists of the "Sicurezza" panel (0: allowed, IPok; 1: blocked,
// IPko): adding an entry, deleting the current one, refusing a typed entry
// as the command line refuses it (access/EntryChecks.h), the cover over the
// grid's empty rows, and putting a connected client's address on a list. No
// empty entry is ever stored.

#include "access/EntryChecks.h"
#include "core/Messages.h"

#include <QString>
#include <optional>

namespace kv::access {
class DataView;
}

namespace kv::admin {

inline const QString kNoUserSelectedMessage = QStringLiteral("Non è selezionato alcun utente");

using access::alreadyListedMessage;

// Why `entry`, typed into model row `row` of `list`, is refused: no address,
// CIDR block, range or wildcard address, or already on the list.
std::optional<QString> typedEntryProblem(const access::DataView& list, int row,
                                         const QString& entry);

// Makes `list` store a new row only once it holds an entry: one left empty
// is dropped.
void keepEntriesWhole(access::DataView& list);

// Twips, inside the list's group (whose top edge the grid shares).
struct IpListMask {
    bool visible = false;
    int top = 0;
    int height = 0;
};

// The cover starts right under the last entry and reaches 15 twips above the
// grid's bottom; it is hidden when the entries fill the grid.
IpListMask AdattaGrigliaIP(int rowHeight, int rowCount, int gridHeight);

// "Nuovo": a new entry, made current and left to be typed in; stored once
// typed (keepEntriesWhole). While one waits empty, another press adds
// nothing. True when a new entry is current.
bool cmdNuovoIP(access::DataView& list);
// The question before "Elimina" deletes `entry` from list `index`.
QString deleteEntryQuestion(int index, const QString& entry);

// "Elimina": deletes the current entry; the following one becomes current, or
// the one before it when the last entry was deleted. The operator is asked
// first unless the entry is empty or not stored yet (the row "Nuovo" made).
// True when the entry is gone.
bool cmdEliminaIP(access::DataView& list, int index, Messages& messages);

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
