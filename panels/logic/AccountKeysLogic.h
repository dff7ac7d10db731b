#pragma once
// The "Chiavi SFTP" group of the Account panel: the current account's public
// keys (fingerprint and comment), "Aggiungi chiave..." from a .pub file and
// "Rimuovi chiave" after the operator's yes. The keys belong to the account's
// saved login; each change is written at once, in its own transaction.

#include "core/Messages.h"

#include <QList>
#include <QObject>
#include <QSqlDatabase>
#include <QString>

namespace kv::access {
class DataView;
}

namespace kv::admin {

struct KeyRow {
    QString fingerprint;
    QString comment;
};

class AccountKeysLogic : public QObject {
    Q_OBJECT
public:
    AccountKeysLogic(access::DataView& users, Messages& messages, QSqlDatabase db,
                     QObject* parent = nullptr);

    // The current account's keys, as last read by refresh().
    const QList<KeyRow>& rows() const { return rows_; }
    // Rereads the keys of the current account (none without one); emits changed.
    void refresh();
    // The key in the file at `path` (a .pub file) for the current account;
    // true when it is the account's now.
    bool addFromFile(const QString& path);
    bool addLine(const QString& text);
    // Removes the key at `row` of rows() once the operator said yes.
    bool removeRow(int row);

Q_SIGNALS:
    void changed();

private:
    // The saved login of the current account; empty, with a message when
    // `explain`, when there is none.
    QString currentLogin(bool explain) const;

    access::DataView& users_;
    Messages& messages_;
    QSqlDatabase db_;
    QList<KeyRow> rows_;
};

} // namespace kv::admin
