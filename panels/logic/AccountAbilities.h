#pragma once
// What an account can do now, said in one line of the Account panel: whether
// it may log in at all, what its rights let it do, and whether the folder it
// would log into is there.

#include <QString>

#include <array>

namespace kv::admin {

struct AccountFacts {
    bool enabled = false;
    bool hasPassword = false;     // a stored password (a null one opens nothing)
    bool hasKeys = false;         // SFTP keys listed for it
    std::array<bool, 5> rights{}; // read, write, delete, browse, manage
    // The folder it logs into: its own root, or the default one; empty when
    // none is known, which is then not judged.
    QString root;
    bool rootExists = true;
};

// "Disabilitato: non può accedere", "Può accedere ma non ha diritti",
// "Può scaricare e sfogliare le cartelle", ... with ", ma la cartella root
// "X" non esiste" when the folder it logs into is missing.
QString accountAbilities(const AccountFacts& facts);

} // namespace kv::admin
