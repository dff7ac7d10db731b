#include "access/LoginHandler.h"

#include "access/AccountDatabase.h"
#include "access/DataView.h"
#include "admin/AddressHelpers.h"

#include <utility>

namespace kv::access {

using engine::ConnectionObject;
using engine::Verdict;

namespace {

bool isAnonymousName(const QString& user) {
    return user.toLower() == QLatin1String("anonymous");
}

constexpr int kMaxVirtualDirs = 1'000'000;

bool blankSpaces(const QString& text) {
    for (const QChar ch : text) {
        if (ch != u' ')
            return false;
    }
    return true;
}

} // namespace

LoginHandler::LoginHandler(AccountViews& views, QSqlDatabase database, ConnectedUsers& users,
                           const ListSwitches& switches, AddressResolver resolve,
                           DefaultRoot defaultRoot)
    : views_(views), database_(std::move(database)), users_(users), switches_(switches),
      resolve_(std::move(resolve)), defaultRoot_(std::move(defaultRoot)) {
    if (!resolve_)
        resolve_ = [](const QString& host) { return admin::ResolveHostAddress(host); };
}

std::unique_ptr<DataView> LoginHandler::namedAccount(const QString& user, const QString& password,
                                                     bool enabledOnly) const {
    std::unique_ptr<DataView> users = views_.Data1().Clone();
    if (!users)
        return nullptr;
    const QString where = enabledOnly ? QStringLiteral("login = ? AND password = ? AND enabled=1")
                                      : QStringLiteral("login = ? AND password = ?");
    if (!users->FindFirst(where, {user, password}) || !users->hasCurrentRow())
        return nullptr;
    return users;
}

std::unique_ptr<DataView> LoginHandler::enabledAnonymous(const QString& user) const {
    if (!isAnonymousName(user))
        return nullptr;
    std::unique_ptr<DataView> anonymous = views_.Data3().Clone();
    if (!anonymous)
        return nullptr;
    if (!anonymous->hasCurrentRow())
        anonymous->MoveFirst();
    if (!anonymous->hasCurrentRow() || !anonymous->isTrue(QStringLiteral("enabled")))
        return nullptr;
    return anonymous;
}

std::unique_ptr<DataView> LoginHandler::accountRow(const ConnectionObject& c) const {
    if (std::unique_ptr<DataView> named = namedAccount(c.UserName(), c.Password(), false))
        return named;
    return enabledAnonymous(c.UserName());
}

LoginHandler::Lookup LoginHandler::findAddress(DataView& list, const QString& address) const {
    std::unique_ptr<DataView> clone = list.Clone();
    if (!clone)
        return Lookup::Failed;
    if (clone->FindFirst(QStringLiteral("IP = ?"), {address}) && clone->hasCurrentRow())
        return Lookup::Found;
    // FindFirst answers false both for no row and for a failed lookup; only
    // the error tells them apart.
    return clone->lastErrorText().isEmpty() && clone->lastErrorNumber() == 0 ? Lookup::NotFound
                                                                             : Lookup::Failed;
}

Verdict LoginHandler::LoginRequest(ConnectionObject& c) {
    const qint32 index = users_.Append();
    ConnectedUser* record = users_.record(index);
    if (!record) {
        // The table cannot grow: the connection keeps no rights at all.
        c.setTag(0);
        return Verdict::Deny;
    }
    record->setPermissions(GetUserPermissions(c));
    record->setAddress(resolve_(c.RemoteHost()));
    c.setTag(index);

    const Verdict verdict = engine::denyIf(!CheckLogin(c));

    // A repeated login on the same connection must not keep what an earlier
    // account was given: its root and virtual folders are replaced.
    const QString root = GetUserRoot(c);
    if (!root.isEmpty())
        c.setRootDir(root);
    else if (defaultRoot_)
        c.setRootDir(defaultRoot_());

    engine::VirtualDirCollection& dirs = c.VirtualDirs();
    dirs.clear();
    const qint32 account = AccountID(c);
    if (account != kNoAccountID) {
        for (const engine::VirtualDir& dir : VirtualDirsOf(account))
            dirs.Add(dir.name, dir.source, dir.destination);
    }
    return verdict;
}

bool LoginHandler::CheckLogin(const ConnectionObject& c) const {
    const QString user = c.UserName();
    const QString password = c.Password();
    const QString address = users_.AddressOf(ConnectionIndex(c));

    if (blankSpaces(user) && blankSpaces(password))
        return false;

    bool accepted = false;
    if (namedAccount(user, password, true))
        accepted = true;
    else if (isAnonymousName(user) && !namedAccount(user, password, false))
        // A disabled account named "anonymous" whose password matches stays
        // refused: its rights would otherwise come in through the anonymous
        // account.
        accepted = enabledAnonymous(user) != nullptr;
    if (!accepted)
        return false;

    if (switches_.BlockListOn() && findAddress(views_.DataIP(1), address) != Lookup::NotFound)
        return false;
    if (switches_.AllowListOn() && findAddress(views_.DataIP(0), address) != Lookup::Found)
        return false;
    return true;
}

QString LoginHandler::GetUserPermissions(const ConnectionObject& c) const {
    const std::unique_ptr<DataView> row = accountRow(c);
    if (!row)
        return {};
    QString letters;
    const std::pair<const char*, char> rights[] = {
        {"read", 'R'}, {"write", 'W'}, {"delete", 'D'}, {"browse", 'B'}, {"manage", 'M'}};
    for (const auto& [field, letter] : rights) {
        if (row->isTrue(QLatin1String(field)))
            letters += QLatin1Char(letter);
    }
    return letters;
}

QString LoginHandler::GetUserRoot(const ConnectionObject& c) const {
    if (blankSpaces(c.UserName()) && blankSpaces(c.Password()))
        return {};
    const std::unique_ptr<DataView> row = accountRow(c);
    return row ? row->Field(QStringLiteral("rootdir")) : QString();
}

qint32 LoginHandler::AccountID(const ConnectionObject& c) const {
    if (const std::unique_ptr<DataView> named = namedAccount(c.UserName(), c.Password(), false)) {
        bool ok = false;
        const qint32 id = named->value(QStringLiteral("ID")).toInt(&ok);
        return ok ? id : kNoAccountID;
    }
    return enabledAnonymous(c.UserName()) ? kAnonymousAccountID : kNoAccountID;
}

QList<engine::VirtualDir> LoginHandler::VirtualDirsOf(qint32 accountId) const {
    QList<engine::VirtualDir> result;
    DataView dirs(database_, QStringLiteral("SELECT * FROM virtualdirs WHERE user=") +
                                 QString::number(accountId));
    if (!dirs.Refresh())
        return result;
    dirs.MoveFirst();
    // Bounded, whatever the cursor does.
    for (int n = 0; n < kMaxVirtualDirs && dirs.hasCurrentRow(); ++n) {
        result.append({dirs.Field(QStringLiteral("name")), dirs.Field(QStringLiteral("source")),
                       dirs.Field(QStringLiteral("destination"))});
        dirs.MoveNext();
    }
    return result;
}

} // namespace kv::access
