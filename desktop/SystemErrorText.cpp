#include "desktop/SystemErrorText.h"

#include <QStringList>
#include <utility>

namespace kv::shell {

namespace {

// Longer phrases first, so one that contains another is replaced whole.
const std::pair<const char*, const char*> kPhrases[] = {
    {"The bound address is already in use", "indirizzo già in uso"},
    {"Address already in use", "indirizzo già in uso"},
    {"The address is protected", "indirizzo protetto (le porte sotto 1024 richiedono permessi)"},
    {"The address is not available", "indirizzo non disponibile su questo PC"},
    {"Cannot assign requested address", "indirizzo non disponibile su questo PC"},
    {"No such file or directory", "file o cartella inesistente"},
    {"Permission denied", "permesso negato"},
    {"Operation not permitted", "operazione non permessa"},
    {"No space left on device", "spazio esaurito sul disco"},
    {"Read-only file system", "file system in sola lettura"},
    {"Is a directory", "è una cartella"},
    {"Not a directory", "non è una cartella"},
    {"File exists", "il file esiste già"},
    {"Connection refused", "connessione rifiutata"},
    {"Connection reset by peer", "connessione interrotta dall'altro capo"},
    {"Too many open files", "troppi file aperti"},
};

} // namespace

QString italianSystemErrors(const QString& text) {
    QString said = text;
    for (const auto& [english, italian] : kPhrases)
        said.replace(QLatin1String(english), QString::fromUtf8(italian), Qt::CaseInsensitive);
    return said;
}

} // namespace kv::shell
