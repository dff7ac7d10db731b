// The login decision: reads the accounts for one login, decides, and hands
// the connection its root and virtual folders.

#include "access/LoginHandler.h"

#include "access/AddressHelpers.h"
#include "access/AddressPattern.h"
#include "access/DataView.h"
#include "access/HostNameCache.h"
#include "access/PasswordHash.h"

#include <QLoggingCategory>
#include <utility>

namespace kv::access {

using engine::ConnectionObject;
using engine::Verdict;

Q_LOGGING_CATEGORY(lcLogin, "kv.access.login")

namespace {

constexpr int kMaxVirtualDirs = 1'000'000;
constexpr int kMaxListEntries = 1'000'000;
constexpr int kMaxSameLogin = 1000;

bool isAnonymousName(const QString& user) {
    return user.toLower() == QLatin1String("anonymous");
}

QString lettersOf(const DataView* row) {
    QString letters;
    if (!row)
        return letters;
    const std::pair<const char*, char> rights[] = {
        {"read", 'R'}, {"write", 'W'}, {"delete", 'D'}, {"browse", 'B'}, {"manage", 'M'}};
    for (const auto& [field, letter] : rights) {
        if (row->isTrue(QLatin1String(field)))
            letters += QLatin1Char(letter);
    }
    return letters;
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
    const QString list = table.compare(QLatin1String("IPok"), Qt::CaseInsensitive) == 0
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
    // The anonymous row when the name is "anonymous" (any case) and the
    // account is enabled.
    std::unique_ptr<DataView> anonymous;
    // Both names empty (or spaces only).
    bool blank = false;
    // A read failed: nothing else was read and the login is refused.
    bool failed = false;

    // The row the account's letters and root come from.
    const DataView* accountRow() const { return named ? named.get() : anonymous.get(); }
    QString root() const {
        const DataView* row = accountRow();
        return row && !blank ? row->Field(QStringLiteral("rootdir")) : QString();
    }
    qint32 accountID() const {
        if (named) {
            bool ok = false;
            const qint32 id = named->value(QStringLiteral("ID")).toInt(&ok);
            return ok ? id : kNoAccountID;
        }
        return anonymous ? kAnonymousAccountID : kNoAccountID;
    }
};

LoginHandler::LoginHandler(QSqlDatabase database, ConnectedUsers& users,
                           const ListSwitches& switches, AddressResolver resolve,
                           DefaultRoot defaultRoot)
    : database_(std::move(database)), users_(users), switches_(switches),
      hosts_(std::make_unique<HostNameCache>()), passwords_(std::make_unique<PasswordChecker>()),
      resolve_(std::move(resolve)), defaultRoot_(std::move(defaultRoot)) {
    if (!resolve_) {
        resolve_ = [hosts = hosts_.get()](const QString& host) -> std::optional<QString> {
            bool pending = false;
            const QString address = admin::ResolveHostAddress(host, [&](const QString& name) {
                const auto known = hosts->addressesOf(name);
                pending = !known;
                return known.value_or(QList<QHostAddress>{});
            });
            return pending ? std::nullopt : std::optional<QString>(address);
        };
    }
}

LoginHandler::~LoginHandler() = default;

std::unique_ptr<DataView> LoginHandler::firstRow(const QString& select, const QVariantList& params,
                                                 bool* failed) const {
    auto view = std::make_unique<DataView>(database_, select, params);
    const bool ok = view->Refresh();
    if (failed)
        *failed = !ok;
    if (!ok || !view->hasCurrentRow())
        return nullptr;
    return view;
}

LoginHandler::Accounts LoginHandler::readAccounts(const ConnectionObject& c) const {
    Accounts a;
    const QString user = c.UserName();
    const QString password = c.Password();
    a.blank = blankSpaces(user) && blankSpaces(password);
    findNamed(a, user, password);
    if (isAnonymousName(user) && !a.failed) {
        a.anonymous = firstRow(QStringLiteral("SELECT * FROM anonymous ORDER BY rowid LIMIT 1"), {},
                               &a.failed);
        if (a.anonymous && !a.anonymous->isTrue(QStringLiteral("enabled")))
            a.anonymous.reset();
    }
    if (a.failed) {
        a.named.reset();
        a.anonymous.reset();
        qCWarning(lcLogin).noquote()
            << "login of" << user << "refused: the accounts could not be read";
    }
    return a;
}

void LoginHandler::findNamed(Accounts& a, const QString& user, const QString& password) const {
    // The password may be a hash, so the rows of this login (one, where the
    // login is unique) are read and each password is verified here.
    auto rows = std::make_unique<DataView>(
        database_,
        QStringLiteral(
            "SELECT *, enabled=1 AS kv_enabled FROM users WHERE login = ? ORDER BY rowid"),
        QVariantList{user});
    if (!rows->Refresh()) {
        a.failed = true;
        return;
    }
    int first = -1;
    for (int row = 0; row < rows->RecordCount() && row < kMaxSameLogin; ++row) {
        rows->setCurrentRow(row);
        // A null password opens nothing, as the file's own comparison had it.
        if (rows->value(QStringLiteral("password")).isNull() ||
            !passwords_->matches(rows->Field(QStringLiteral("password")), password))
            continue;
        if (first < 0)
            first = row;
        if (rows->isTrue(QStringLiteral("kv_enabled"))) {
            a.namedEnabled = true;
            break;
        }
    }
    if (first < 0)
        return;
    rows->setCurrentRow(first);
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
    for (const QString& table : {QStringLiteral("IPok"), QStringLiteral("IPko")}) {
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

Verdict LoginHandler::LoginRequest(ConnectionObject& c) {
    const qint32 index = users_.Append();
    ConnectedUser* record = users_.record(index);
    if (!record) {
        // The table cannot grow: the connection keeps no rights at all.
        c.setTag(0);
        return Verdict::Deny;
    }
    const Accounts accounts = readAccounts(c);
    record->setPermissions(lettersOf(accounts.accountRow()));
    const std::optional<QString> address = resolve_(c.RemoteHost());
    record->setAddress(address.value_or(c.RemoteHost()));
    c.setTag(index);

    bool refused = !checkLogin(accounts, c);
    if (!address && (switches_.BlockListOn() || switches_.AllowListOn())) {
        qCInfo(lcLogin).noquote() << "login from" << c.RemoteHost()
                                  << "refused: its address is still being looked up";
        refused = true;
    }

    // A repeated login on the same connection must not keep what an earlier
    // account was given: its root and virtual folders are replaced.
    const QString root = accounts.root();
    if (!root.isEmpty())
        c.setRootDir(root);
    else if (defaultRoot_)
        c.setRootDir(defaultRoot_());

    engine::VirtualDirCollection& dirs = c.VirtualDirs();
    dirs.clear();
    const qint32 account = accounts.accountID();
    if (account != kNoAccountID && !accounts.failed) {
        QList<engine::VirtualDir> found;
        // Without its virtual folders the account would see another tree.
        if (!readVirtualDirs(account, found))
            refused = true;
        for (const engine::VirtualDir& dir : found)
            dirs.Add(dir.name, dir.source, dir.destination);
    }
    return engine::denyIf(refused);
}

bool LoginHandler::CheckLogin(const ConnectionObject& c) const {
    return checkLogin(readAccounts(c), c);
}

bool LoginHandler::checkLogin(const Accounts& a, const ConnectionObject& c) const {
    if (a.blank || a.failed)
        return false;
    // A disabled account named "anonymous" whose password matches stays
    // refused: its rights would otherwise come in through the anonymous account.
    const bool accepted = a.namedEnabled || (!a.named && a.anonymous);
    if (!accepted)
        return false;

    const QString address = users_.AddressOf(ConnectionIndex(c));
    if (switches_.BlockListOn() && findAddress(QStringLiteral("IPko"), address) != Lookup::NotFound)
        return false;
    if (switches_.AllowListOn() && findAddress(QStringLiteral("IPok"), address) != Lookup::Found)
        return false;
    return true;
}

QString LoginHandler::GetUserPermissions(const ConnectionObject& c) const {
    return lettersOf(readAccounts(c).accountRow());
}

QString LoginHandler::GetUserRoot(const ConnectionObject& c) const {
    return readAccounts(c).root();
}

qint32 LoginHandler::AccountID(const ConnectionObject& c) const {
    return readAccounts(c).accountID();
}

QList<engine::VirtualDir> LoginHandler::VirtualDirsOf(qint32 accountId) const {
    QList<engine::VirtualDir> result;
    readVirtualDirs(accountId, result);
    return result;
}

bool LoginHandler::readVirtualDirs(qint32 accountId, QList<engine::VirtualDir>& result) const {
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
