// DataView's error reporting: the database's error number as the program
// tells it (2067 for a duplicated login), a clear text when another program
// holds accounts.dat locked, the log line and the Error() notification.

#include "access/DataViewState.h"

#include <QLoggingCategory>

namespace kv::access {

Q_LOGGING_CATEGORY(lcAccountData, "kv.access.data")

namespace {

// SQLite reports a broken UNIQUE constraint with the primary code 19 unless
// extended codes are on; the program tells a duplicated login by 2067.
int errorNumberOf(const QSqlError& error) {
    bool ok = false;
    int number = error.nativeErrorCode().toInt(&ok);
    if (!ok)
        number = error.type() == QSqlError::NoError ? 0 : -1;
    const QString text = error.databaseText() + QLatin1Char(' ') + error.driverText();
    if ((number & 0xff) == 19 && text.contains(QLatin1String("UNIQUE"), Qt::CaseInsensitive))
        return kDuplicateKeyError;
    return number;
}

} // namespace

bool isBusyError(int errorNumber) {
    // SQLITE_BUSY and SQLITE_LOCKED, with their extended variants.
    return errorNumber > 0 && ((errorNumber & 0xff) == 5 || (errorNumber & 0xff) == 6);
}

void DataView::reportError(const QSqlError& error, bool notify) {
    lastErrorNumber_ = errorNumberOf(error);
    lastErrorText_ = error.text();
    if (isBusyError(lastErrorNumber_)) {
        // Another program holds the file: said plainly, and logged with what
        // was being done, since the change stays only on this view for now.
        lastErrorText_ = (notify ? QStringLiteral("Il database degli account è bloccato da un "
                                                  "altro programma: la modifica non è stata "
                                                  "salvata (%1).")
                                 : QStringLiteral("Il database degli account è bloccato da un "
                                                  "altro programma (%1)."))
                             .arg(error.text());
        qCWarning(lcAccountData).noquote()
            << "accounts.dat is locked by another program:" << (notify ? "saving" : "reading")
            << source_ << "failed, error" << lastErrorNumber_ << error.text();
    }
    // A handler that saves the row again (as the account panel does after a
    // repeated login) must not be called again from inside itself.
    if (notify && !d->notifying) {
        d->notifying = true;
        Q_EMIT Error(lastErrorNumber_, lastErrorText_);
        d->notifying = false;
    }
}

void DataView::clearError() {
    lastErrorNumber_ = 0;
    lastErrorText_.clear();
}

} // namespace kv::access
