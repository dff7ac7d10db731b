#include "panels/logic/AccountKeysLogic.h"

#include "access/AccountColumns.h"
#include "access/AccountKeys.h"
#include "access/AccountService.h"
#include "access/DataView.h"

#include <QFile>

namespace kv::admin {

namespace {

// Far more than a public key file holds: a bigger file is no such file.
constexpr qint64 kMaxKeyFile = 64 * 1024;

} // namespace

AccountKeysLogic::AccountKeysLogic(access::DataView& users, Messages& messages, QSqlDatabase db,
                                   QObject* parent)
    : QObject(parent), users_(users), messages_(messages), db_(std::move(db)) {}

QString AccountKeysLogic::currentLogin(bool explain) const {
    QString login;
    if (users_.hasCurrentRow() && db_.isValid()) {
        // The saved login: one being typed is not the account's yet.
        bool numbered = false;
        const qint64 id = users_.value(access::column::kId).toLongLong(&numbered);
        if (numbered)
            login = access::AccountService(db_).storedLogin(id).value_or(QString());
    }
    if (login.trimmed().isEmpty() && explain)
        messages_.show(users_.hasCurrentRow()
                           ? QStringLiteral("Salvare prima un login per l'account")
                           : QStringLiteral("Nessun account selezionato"),
                       MessageIcon::Exclamation);
    return login.trimmed().isEmpty() ? QString() : login;
}

void AccountKeysLogic::refresh() {
    rows_.clear();
    const QString login = currentLogin(false);
    if (!login.isEmpty()) {
        const auto keys = access::AccountKeys(db_).list(login);
        for (const access::StoredKey& k : keys.value_or(QList<access::StoredKey>{}))
            rows_.append({k.fingerprint, k.comment});
    }
    Q_EMIT changed();
}

bool AccountKeysLogic::addFromFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxKeyFile) {
        messages_.show(QStringLiteral("Impossibile leggere la chiave dal file %1").arg(path),
                       MessageIcon::Exclamation);
        return false;
    }
    return addLine(QString::fromUtf8(file.read(kMaxKeyFile)));
}

bool AccountKeysLogic::addLine(const QString& text) {
    const QString login = currentLogin(true);
    if (login.isEmpty())
        return false;
    const sftp::PublicKeyParse parsed = sftp::parsePublicKeyLine(text);
    if (!parsed.key) {
        messages_.show(parsed.error, MessageIcon::Exclamation);
        return false;
    }
    const access::KeyChange change = access::AccountKeys(db_).add(login, *parsed.key);
    using Result = access::KeyChange::Result;
    if (change.result == Result::Unchanged)
        messages_.show(QStringLiteral("La chiave %1 è già dell'account \"%2\"")
                           .arg(parsed.key->fingerprint, login),
                       MessageIcon::Information);
    else if (change.result == Result::NoAccount)
        messages_.show(QStringLiteral("L'account \"%1\" non esiste più").arg(login),
                       MessageIcon::Exclamation);
    else if (change.result == Result::Failed)
        messages_.show(change.error, MessageIcon::Exclamation);
    refresh();
    return change.result == Result::Done || change.result == Result::Unchanged;
}

bool AccountKeysLogic::removeRow(int row) {
    if (row < 0 || row >= rows_.size()) {
        messages_.show(QStringLiteral("Nessuna chiave selezionata"), MessageIcon::Exclamation);
        return false;
    }
    const QString login = currentLogin(true);
    if (login.isEmpty())
        return false;
    const KeyRow key = rows_.at(row);
    if (!messages_.confirm(QStringLiteral("Rimuovere la chiave %1 dall'account \"%2\"?")
                               .arg(key.fingerprint, login)))
        return false;
    const access::KeyChange change = access::AccountKeys(db_).remove(login, key.fingerprint);
    if (change.result == access::KeyChange::Result::Failed)
        messages_.show(change.error, MessageIcon::Exclamation);
    refresh();
    return change.result == access::KeyChange::Result::Done;
}

} // namespace kv::admin
