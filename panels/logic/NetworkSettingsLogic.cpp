#include "panels/logic/NetworkSettingsLogic.h"

#include "panels/logic/StartupDefaults.h"
#include "settings/OptionCatalog.h"
#include "settings/PortPrivilege.h"

#include <QHostAddress>
#include <QNetworkInterface>

namespace kv::admin {

namespace {
const QString kNoAddress = QStringLiteral("0.0.0.0");
const QChar kCarriageReturn = QChar(13);

// The text up to its first NUL character, or the whole text without one.
QString TrimAtNul(const QString& text) {
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}
} // namespace

QList<Adapter> systemAdapters() {
    QList<Adapter> adapters;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& iface : interfaces) {
        Adapter adapter;
        adapter.loopback = iface.flags().testFlag(QNetworkInterface::IsLoopBack) ||
                           iface.type() == QNetworkInterface::Loopback;
        for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
            const QHostAddress ip = entry.ip();
            if (ip.protocol() == QAbstractSocket::IPv4Protocol)
                adapter.ipv4.append(ip.toString());
        }
        adapters.append(adapter);
    }
    return adapters;
}

QString LocalAddresses(const QString& separator, const QList<Adapter>& adapters) {
    QStringList addresses;
    for (const Adapter& adapter : adapters) {
        if (adapter.loopback)
            continue;
        addresses.append(adapter.ipv4.isEmpty() ? kNoAddress : TrimAtNul(adapter.ipv4.first()));
    }
    return addresses.join(separator);
}

void AggiungiIP(QStringList& entries, const QString& ip) {
    if (!entries.contains(ip, Qt::CaseSensitive))
        entries.append(ip);
}

AddressBox CaricaIP(const QStringList& entries, const QString& text, bool reset,
                    const QList<Adapter>& adapters) {
    AddressBox box{reset ? QStringList() : entries, text};
    AggiungiIP(box.entries, kDefaultAddressText);
    // Every IPv4 address, and every address of both families (dual stack).
    AggiungiIP(box.entries, kNoAddress);
    AggiungiIP(box.entries, QStringLiteral("::"));
    const QString local = LocalAddresses(QString(kCarriageReturn), adapters);
    if (!local.isEmpty()) {
        for (const QString& piece : local.split(kCarriageReturn)) {
            if (piece != kNoAddress)
                AggiungiIP(box.entries, piece);
        }
    }
    if (!text.isEmpty())
        AggiungiIP(box.entries, text);
    else
        box.text = kDefaultAddressText;
    return box;
}

AddressBox resetAddressBox(const QStringList& entries, const QString& text,
                           const QList<Adapter>& adapters) {
    AddressBox box = CaricaIP(entries, text, true, adapters);
    box.text = kDefaultAddressText;
    return box;
}

bool MostraIPEnabled(const QString& text) {
    return text.isEmpty() || text.toLower() == QLatin1String("default");
}

QString MostraIPText(bool serverRunning, const QString& engineLocalAddress, const QString& text,
                     const std::function<QString()>& defaultLocalIP) {
    if (serverRunning)
        return engineLocalAddress;
    if (text.toLower() == QLatin1String("default"))
        return defaultLocalIP ? defaultLocalIP() : QString();
    return text;
}

int windowOption(const QString& minimized) {
    return startsMinimized(minimized) ? 1 : 0;
}

QString windowModeValue(int option) {
    return option == 0 ? QStringLiteral("0") : QStringLiteral("1");
}

QString defaultControlPort() {
    return settings::newDatabasePort(settings::mayBindPort(21));
}

QString portCaption(const QString& defaultPort) {
    return QStringLiteral("Inserire la porta su cui si desidera attivare il server (in caso di "
                          "dubbio lasciare l'impostazione di default \"%1\"):")
        .arg(defaultPort);
}

std::optional<QString> refusedSetting(const QString& column, const QString& text) {
    const settings::OptionCheck checked =
        settings::optionCatalog().check(column, text, settings::OptionStore::SettingsRow);
    if (checked.ok())
        return std::nullopt;
    return checked.error;
}

QString normalSetting(const QString& column, const QString& text) {
    return settings::optionCatalog().check(column, text, settings::OptionStore::SettingsRow).value;
}

} // namespace kv::admin
