#include "panels/logic/AccountAbilities.h"

#include <QStringList>

namespace kv::admin {

namespace {

// What each right lets a client do, in the rights' order.
const std::array<QString, 5>& rightVerbs() {
    static const std::array<QString, 5> verbs = {
        QStringLiteral("scaricare"), QStringLiteral("caricare e rinominare"),
        QStringLiteral("cancellare file"), QStringLiteral("sfogliare le cartelle"),
        QStringLiteral("creare e rimuovere cartelle")};
    return verbs;
}

// "a", "a e b", "a, b e c".
QString joined(const QStringList& parts) {
    if (parts.size() <= 1)
        return parts.value(0);
    return parts.mid(0, parts.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" e ") +
           parts.last();
}

} // namespace

QString accountAbilities(const AccountFacts& facts) {
    if (!facts.enabled)
        return QStringLiteral("Disabilitato: non può accedere");
    if (!facts.hasPassword && !facts.hasKeys)
        return QStringLiteral("Senza password: non può accedere");
    QStringList can;
    for (std::size_t i = 0; i < facts.rights.size(); ++i) {
        if (facts.rights[i])
            can.append(rightVerbs()[i]);
    }
    QString text = can.isEmpty() ? QStringLiteral("Può accedere ma non ha diritti")
                                 : QStringLiteral("Può ") + joined(can);
    if (!facts.hasPassword)
        text = QStringLiteral("Solo con una chiave SFTP: ") + text.front().toLower() + text.mid(1);
    if (!facts.root.isEmpty() && !facts.rootExists)
        text += QStringLiteral(", ma la cartella root \"%1\" non esiste").arg(facts.root);
    return text;
}

} // namespace kv::admin
