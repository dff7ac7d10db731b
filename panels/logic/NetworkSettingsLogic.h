#pragma once
// The "Impostazioni" panel's behaviour: the list of addresses offered in the
// address box (the word "Default", the PC's adapter addresses, the saved
// value), "Mostra IP", and the window mode kept as "0" or "1".

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace kv::admin {

inline const QString kDefaultAddressText = QStringLiteral("Default");

// One network adapter as the address list sees it.
struct Adapter {
    bool loopback = false;
    QStringList ipv4; // its IPv4 addresses in dotted form, in the system's order
};

// The PC's adapters in the system's order (QNetworkInterface).
QList<Adapter> systemAdapters();

// The first IPv4 address of each adapter, loopback left out, joined by
// `separator`; an adapter without one gives "0.0.0.0".
QString LocalAddresses(const QString& separator, const QList<Adapter>& adapters);

// Appends `ip` unless the list holds exactly that text (letter case counts).
void AggiungiIP(QStringList& entries, const QString& ip);

struct AddressBox {
    QStringList entries;
    QString text;
};

// Rebuilds the address box's list ("Default", "0.0.0.0" and "::", then each
// adapter address, then the text the box held) and keeps its text; an empty
// text becomes "Default". `reset` starts from an empty list.
AddressBox CaricaIP(const QStringList& entries, const QString& text, bool reset,
                    const QList<Adapter>& adapters);

// "Reset": the list rebuilt from scratch and the text "Default"; the address
// that stood in the box stays in the list.
AddressBox resetAddressBox(const QStringList& entries, const QString& text,
                           const QList<Adapter>& adapters);

// "Mostra IP" is usable when the box is empty or holds the word default.
bool MostraIPEnabled(const QString& text);

// What "Mostra IP" shows: the running engine's address, else the engine's
// default address for the word default, else the box's text itself.
QString MostraIPText(bool serverRunning, const QString& engineLocalAddress, const QString& text,
                     const std::function<QString()>& defaultLocalIP);

// Window mode: option 0 ("Normale") for a stored value that reads as zero,
// option 1 ("Minimizzato") for any other number, as start-up decides.
int windowOption(const QString& minimized);
// The stored value of an option: "0" or "1".
QString windowModeValue(int option);

// The control port a database made by this user starts with ("21", or
// "2121" for a user who may not listen on 21), and the port box's caption
// naming it.
QString defaultControlPort();
QString portCaption(const QString& defaultPort);

// A value typed into a box of the settings row, judged as the command line and
// the start judge it: nothing when accepted, else the catalog's Italian reason.
std::optional<QString> refusedSetting(const QString& column, const QString& text);
// An accepted value's normal form ("Default" for " default ", "2121" for "02121").
QString normalSetting(const QString& column, const QString& text);

} // namespace kv::admin
