// "kestrova user key add|list|del": the public keys that open an account over SFTP.
#include "access/AccountKeys.h"
#include "access/AccountService.h"
#include "program/CliContext.h"
#include "program/CliOutput.h"

namespace kv::cli {

namespace {

using access::KeyChange;

bool isAnonymous(const QString& login) {
    return login.compare(QLatin1String("anonymous"), Qt::CaseInsensitive) == 0;
}

int missing(CliContext& c, const QString& login) {
    return refuse(c, access::missingAccountMessage(login));
}

int keyAdd(CliContext& c, const QString& login) {
    if (isAnonymous(login))
        return refuse(c, QStringLiteral("L'account anonimo non accede con una chiave"));
    const std::optional<QString> text =
        c.io.readText ? c.io.readText(QStringLiteral("Chiave pubblica di %1: ").arg(login))
                      : std::nullopt;
    if (!text)
        return refuse(c, QStringLiteral("Nessuna chiave letta: dare la riga del file .pub sullo "
                                        "standard input"));
    const sftp::PublicKeyParse parsed = sftp::parsePublicKeyLine(*text);
    if (!parsed.key)
        return refuse(c, parsed.error);
    const KeyChange change = access::AccountKeys(c.db).add(login, *parsed.key);
    switch (change.result) {
    case KeyChange::Result::Done:
        return done(c, QStringLiteral("Chiave %1 aggiunta all'account \"%2\"")
                           .arg(parsed.key->fingerprint, login));
    case KeyChange::Result::Unchanged:
        return done(c, QStringLiteral("La chiave %1 è già dell'account \"%2\"")
                           .arg(parsed.key->fingerprint, login));
    case KeyChange::Result::NoAccount:
        return missing(c, login);
    case KeyChange::Result::Failed:
        break;
    }
    return refuse(c, change.error);
}

int keyList(CliContext& c, const QString& login) {
    const auto keys = access::AccountKeys(c.db).list(login);
    if (!keys)
        return refuse(c, QStringLiteral("Impossibile leggere le chiavi da accounts.dat"));
    if (keys->isEmpty() && !access::AccountService(c.db).accountId(login))
        return missing(c, login);
    CliTable table{{QStringLiteral("tipo"), QStringLiteral("impronta"), QStringLiteral("commento"),
                    QStringLiteral("aggiunta")},
                   {}};
    for (const access::StoredKey& k : *keys)
        table.rows << QStringList{k.type, k.fingerprint, k.comment,
                                  k.addedAt.toString(Qt::ISODate)};
    printTable(c.io.out, table, c.json());
    return kDone;
}

int keyDel(CliContext& c, const QString& login, QString fingerprint) {
    // As ssh-keygen -lf prints it, or without its "SHA256:".
    if (!fingerprint.startsWith(QLatin1String("SHA256:")))
        fingerprint.prepend(QLatin1String("SHA256:"));
    const KeyChange change = access::AccountKeys(c.db).remove(login, fingerprint);
    switch (change.result) {
    case KeyChange::Result::Done:
        return done(c,
                    QStringLiteral("Chiave %1 tolta dall'account \"%2\"").arg(fingerprint, login));
    case KeyChange::Result::Unchanged:
        return refuse(c, QStringLiteral("L'account \"%1\" non ha la chiave %2 (vedere: kestrova "
                                        "user key list %1)")
                             .arg(login, fingerprint));
    case KeyChange::Result::NoAccount:
        return missing(c, login);
    case KeyChange::Result::Failed:
        break;
    }
    return refuse(c, change.error);
}

} // namespace

int userKeyCommand(CliContext& c) {
    const QStringList& w = c.args.words; // "key", action, login[, fingerprint]
    const QString action = w.value(1);
    if (action == QLatin1String("add") && w.size() == 3)
        return keyAdd(c, w[2]);
    if (action == QLatin1String("list") && w.size() == 3)
        return keyList(c, w[2]);
    if (action == QLatin1String("del") && w.size() == 4)
        return keyDel(c, w[2], w[3]);
    return usage(c, QStringLiteral("Uso: kestrova user key add|list NOME, kestrova user key del "
                                   "NOME IMPRONTA"));
}

} // namespace kv::cli
