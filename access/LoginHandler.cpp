// The login decision: reads the accounts for one login, decides, and builds
// the grant of an accepted one.

#include "access/LoginHandler.h"

#include "access/AccountColumns.h"
#include "access/AccountKeys.h"
#include "access/AccountLimitFields.h"
#include "access/AccountLimitsTable.h"
#include "access/DataView.h"
#include "access/PasswordHash.h"
#include "settings/AddressPattern.h"
#include "settings/OptionCatalog.h"

#include <QLoggingCategory>
#include <utility>

namespace kv::access {

using session::ConnectionObject;
using session::LoginDecision;
using settings::AddressPattern;

Q_LOGGING_CATEGORY(lcLogin, "kv.access.login")

namespace {

constexpr int kMaxVirtualDirs = 1'000'000;
constexpr int kMaxListEntries = 1'000'000;
constexpr int kMaxSameLogin = 1000;

bool isAnonymousName(const QString& user) {
    return user.toLower() == QLatin1String("anonymous");
}

files::Rights rightsOf(const DataView& row) {
    files::Rights rights;
    for (const auto& [field, right] : column::kRights) {
        if (row.isTrue(field))
            rights.add(right);
    }
    return rights;
}

bool blankSpaces(const QString& text) {
    for (const QChar ch : text) {
        if (ch != u' ')
            return false;
    }
    return true;
}

} // namespace

QString invalidListEntryLine(const QString& table, const QString& entry) {
    const QString list = table.compare(settings::setting::kIpOk, Qt::CaseInsensitive) == 0
                             ? QStringLiteral("IP autorizzati")
                             : QStringLiteral("IP bloccati");
    return QStringLiteral("Lista %1: voce \"%2\" non valida, ignorata").arg(list, entry);
}

// What one decision needs from the accounts, read once so every step of a
// login sees the same rows.
struct LoginHandler::Accounts {
    // The first users row with this login and password, enabled or not.
    std::unique_ptr<DataView> named;
    // Whether such a row exists with `enabled` true.
    bool namedEnabled = false;
    // Whether any users row has this login, whatever its password.
    bool loginKnown = false;
    // The anonymous row when the name is "anonymous" (any case), and whether
    // that account is enabled.
    std::unique_ptr<DataView> anonymous;
    bool anonymousEnabled = false;
    // Both names empty (or spaces only).
    bool blank = false;
    // Why a read failed; then nothing else was read and nothing is decided.
    QString failure;
    // Why a login by key is refused whatever the account row says.
    QString keyRefusal;

    // The row the account's rights and root come from.
    const DataView* accountRow() const {
        return named ? named.get() : anonymousEnabled ? anonymous.get() : nullptr;
    }
    qint32 accountId() const {
        if (named) {
            bool ok = false;
            const qint32 id = named->value(QStringLiteral("ID")).toInt(&ok);
            return ok ? id : files::kNoAccountId;
        }
        return anonymousEnabled ? files::kAnonymousAccountId : files::kNoAccountId;
    }
    // Why the login is refused before the lists are looked at; "" when the
    // account lets it in.
    QString refusal() const {
        if (blank)
            return refusal::kBlank;
        if (!keyRefusal.isEmpty())
            return keyRefusal;
        if (namedEnabled)
            return {};
        // A disabled account named "anonymous" whose password matches stays
        // refused: its rights would otherwise come in through the anonymous account.
        if (named)
            return refusal::kDisabled;
        if (anonymous)
            return anonymousEnabled ? QString() : refusal::kDisabled;
        return loginKnown ? refusal::kWrongPassword : refusal::kNoAccount;
    }
};

LoginHandler::LoginHandler(QSqlDatabase database, const ListSwitches& switches,
                           DefaultRoot defaultRoot)
    : database_(std::move(database)), switches_(switches),
      passwords_(std::make_unique<PasswordChecker>()), defaultRoot_(std::move(defaultRoot)) {}

LoginHandler::~LoginHandler() = default;

std::unique_ptr<DataView> LoginHandler::firstRow(const QString& select, const QVariantList& params,
                                                 QString* failure) const {
    auto view = std::make_unique<DataView>(database_, select, params);
    if (!view->Refresh()) {
        *failure = view->lastErrorText();
        return nullptr;
    }
    if (!view->hasCurrentRow())
        return nullptr;
    return view;
}

LoginHandler::Accounts LoginHandler::readAccounts(const QString& user,
                                                  const QString& password) const {
    Accounts a;
    a.blank = blankSpaces(user) && blankSpaces(password);
    findNamed(a, user, password);
    if (isAnonymousName(user) && a.failure.isEmpty()) {
        a.anonymous = firstRow(QStringLiteral("SELECT * FROM anonymous ORDER BY rowid LIMIT 1"), {},
                               &a.failure);
        a.anonymousEnabled = a.anonymous && a.anonymous->isTrue(QStringLiteral("enabled"));
    }
    if (!a.failure.isEmpty()) {
        a.named.reset();
        a.anonymous.reset();
        a.anonymousEnabled = false;
        qCWarning(lcLogin).noquote()
            << "login of" << user << "not decided: the accounts could not be read:" << a.failure;
    }
    return a;
}

void LoginHandler::findNamed(Accounts& a, const QString& user, const QString& password) const {
    // The password may be a hash, so the rows of this login (one, where the
    // login is unique) are read and each password is verified here. A null
    // password opens nothing, as the file's own comparison had it.
    chooseRow(a, user, [&](const DataView& row) {
        return !row.value(QStringLiteral("password")).isNull() &&
               passwords_->matches(row.Field(QStringLiteral("password")), password);
    });
}

void LoginHandler::chooseRow(Accounts& a, const QString& user, const RowTest& opens) const {
    auto rows = std::make_unique<DataView>(
        database_,
        QStringLiteral(
            "SELECT *, enabled=1 AS kv_enabled FROM users WHERE login = ? ORDER BY rowid"),
        QVariantList{user});
    if (!rows->Refresh()) {
        a.failure = rows->lastErrorText();
        return;
    }
    a.loginKnown = rows->RecordCount() > 0;
    // An older file may hold the login more than once: the first enabled row
    // it opens, else the first it opens (refused later as disabled).
    int chosen = -1;
    for (int row = 0; row < rows->RecordCount() && row < kMaxSameLogin; ++row) {
        rows->setCurrentRow(row);
        if (!opens(*rows))
            continue;
        if (chosen < 0)
            chosen = row;
        if (rows->isTrue(QStringLiteral("kv_enabled"))) {
            chosen = row;
            a.namedEnabled = true;
            break;
        }
    }
    if (chosen < 0)
        return;
    rows->setCurrentRow(chosen);
    a.named = std::move(rows);
}

LoginHandler::Lookup LoginHandler::findAddress(const QString& table, const QString& address) const {
    // Exact entries are found by the file's own comparison; entries that may
    // be blocks, ranges, wildcards or IPv6 addresses are read and matched here.
    DataView entries(database_,
                     QStringLiteral("SELECT IP FROM %1 WHERE IP = ? OR instr(IP, '/') OR "
                                    "instr(IP, '-') OR instr(IP, '*') OR instr(IP, ':')")
                         .arg(table),
                     {address});
    if (!entries.Refresh())
        return Lookup::Failed;
    entries.MoveFirst();
    for (int n = 0; n < kMaxListEntries && entries.hasCurrentRow(); ++n) {
        const QString entry = entries.Field(QStringLiteral("IP"));
        const std::optional<AddressPattern> pattern = AddressPattern::parse(entry);
        if (!pattern)
            nameInvalidEntry(table, entry);
        else if (pattern->matches(address))
            return Lookup::Found;
        entries.MoveNext();
    }
    return Lookup::NotFound;
}

bool LoginHandler::nameNow(const QString& table, const QString& entry) const {
    // An empty entry is the row "Nuovo" adds, waiting to be typed in.
    if (entry.trimmed().isEmpty())
        return false;
    const QString key = table + QLatin1Char('\n') + entry;
    if (namedInvalid_.contains(key))
        return false;
    namedInvalid_.insert(key);
    return true;
}

void LoginHandler::nameInvalidEntry(const QString& table, const QString& entry) const {
    if (nameNow(table, entry))
        qCWarning(lcLogin).noquote() << invalidListEntryLine(table, entry);
}

QStringList LoginHandler::InvalidListEntries() const {
    QStringList lines;
    for (const QString& table : {settings::setting::kIpOk, settings::setting::kIpKo}) {
        DataView entries(database_, QStringLiteral("SELECT IP FROM %1 ORDER BY rowid").arg(table));
        if (!entries.Refresh())
            continue;
        entries.MoveFirst();
        for (int n = 0; n < kMaxListEntries && entries.hasCurrentRow(); ++n) {
            const QString entry = entries.Field(QStringLiteral("IP"));
            if (!AddressPattern::parse(entry) && nameNow(table, entry))
                lines.append(invalidListEntryLine(table, entry));
            entries.MoveNext();
        }
    }
    return lines;
}

LoginHandler::Accounts LoginHandler::readKeyAccount(const QString& user,
                                                    const QString& fingerprint) const {
    Accounts a;
    if (isAnonymousName(user)) {
        a.keyRefusal = refusal::kAnonymousKey;
        return a;
    }
    chooseRow(a, user, [](const DataView&) { return true; });
    if (!a.failure.isEmpty() || !a.namedEnabled)
        return a;
    switch (KeyIsListed(user, fingerprint)) {
    case sftp::KeyListed::Yes:
        break;
    case sftp::KeyListed::No:
        a.keyRefusal = refusal::kKeyNotListed;
        break;
    case sftp::KeyListed::Unknown:
        a.failure = QStringLiteral("chiavi dell'account");
        a.named.reset();
        break;
    }
    return a;
}

sftp::KeyListed LoginHandler::KeyIsListed(const QString& login, const QString& fingerprint) const {
    if (isAnonymousName(login))
        return sftp::KeyListed::No;
    return AccountKeys(database_).isListed(login, fingerprint);
}

LoginDecision LoginHandler::KeyLoginRequest(const ConnectionObject& c, const QString& fingerprint) {
    return decide(c, readKeyAccount(c.UserName(), fingerprint));
}

LoginDecision LoginHandler::LoginRequest(const ConnectionObject& c) {
    return decide(c, readAccounts(c.UserName(), c.Password()));
}

LoginDecision LoginHandler::decide(const ConnectionObject& c, const Accounts& accounts) {
    const QString user = c.UserName();
    const auto unavailable = [](const QString& why) {
        return LoginDecision::unavailable(
            QStringLiteral("impossibile leggere gli account (%1)").arg(why));
    };
    if (!accounts.failure.isEmpty())
        return unavailable(accounts.failure);
    if (const QString why = accounts.refusal(); !why.isEmpty())
        return LoginDecision::refused(why);
    const qint32 accountId = accounts.accountId();
    const std::optional<files::AccountLimits> limits =
        AccountLimitsTable(database_).find(accountId);
    if (!limits)
        return unavailable(QStringLiteral("limiti dell'account"));
    // Expired from the local midnight that ends its expiry date.
    if (isExpired(limits->expires, clock_()))
        return LoginDecision::refusedUncounted(refusal::kExpired);

    // The engine reports its clients by numeric address, as the lists hold them.
    const QString address = c.RemoteHost();
    if (switches_.BlockListOn()) {
        const Lookup blocked = findAddress(settings::setting::kIpKo, address);
        if (blocked == Lookup::Failed)
            return unavailable(QStringLiteral("lista IP bloccati"));
        if (blocked == Lookup::Found)
            return LoginDecision::refused(refusal::kAddress);
    }
    if (switches_.AllowListOn()) {
        const Lookup allowed = findAddress(settings::setting::kIpOk, address);
        if (allowed == Lookup::Failed)
            return unavailable(QStringLiteral("lista IP autorizzati"));
        if (allowed == Lookup::NotFound)
            return LoginDecision::refused(refusal::kAddress);
    }

    const DataView& row = *accounts.accountRow();
    auto grant = std::make_shared<files::LoginGrant>();
    grant->accountId = accountId;
    grant->limits = *limits;
    grant->login = user;
    grant->anonymous = !accounts.named;
    grant->rights = rightsOf(row);
    grant->root = row.Field(column::kRootDir);
    if (grant->root.isEmpty() && defaultRoot_)
        grant->root = defaultRoot_();
    grant->address = address;
    // Without its virtual folders the account would see another tree.
    if (!readVirtualDirs(grant->accountId, grant->virtualDirs))
        return unavailable(QStringLiteral("cartelle virtuali"));
    return LoginDecision::accepted(std::move(grant));
}

bool LoginHandler::readVirtualDirs(qint32 accountId, QList<files::VirtualDir>& result) const {
    DataView dirs(database_, QStringLiteral("SELECT * FROM virtualdirs WHERE user=") +
                                 QString::number(accountId));
    if (!dirs.Refresh())
        return false;
    dirs.MoveFirst();
    // Bounded, whatever the cursor does.
    for (int n = 0; n < kMaxVirtualDirs && dirs.hasCurrentRow(); ++n) {
        result.append({dirs.Field(QStringLiteral("name")), dirs.Field(QStringLiteral("source")),
                       dirs.Field(QStringLiteral("destination"))});
        dirs.MoveNext();
    }
    return true;
}

} // namespace kv::access
