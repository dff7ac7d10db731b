#pragma once
// One thing that happened on the server, as the action rules see it: the
// event's word (upload, download, delete, rename, mkdir, login-failed, ban,
// quota-warning, account-expired, admin-login, certificate-renewed, certificate-failed) and what a
// program gets in its environment. Built from the bus's events; a later protocol raising the same
// events needs nothing here.

#include "events/ServerEvents.h"

#include <QDateTime>
#include <QProcessEnvironment>
#include <QString>
#include <optional>

namespace kv::actions {

struct ActionEvent {
    QString name;       // upload, download, ...
    QString user;       // the login; "anonymous" for the anonymous account
    QString address;    // the client's address
    QString clientPath; // as the client sees it
    QString diskPath;   // absolute; empty when the event has no file
    qint64 size = -1;   // bytes; -1 when the event has no size
    QDateTime time;     // UTC
    QString protocol;   // ftp, ftps
    QString detail;     // what happened, in Italian, for an account's event; else empty
};

// The event a finished transfer raises: only a complete upload or download.
std::optional<ActionEvent> fromTransfer(const events::TransferEvent& transfer,
                                        const QDateTime& now);
// delete, rename (the new name), mkdir; a removed folder raises none.
std::optional<ActionEvent> fromFileChange(const events::FileEvent& change, const QDateTime& now);
ActionEvent fromLoginFailure(const events::LoginFailure& failure, const QDateTime& now);
ActionEvent fromBan(const events::AddressBan& ban, const QDateTime& now);
// An account's used space crossed the warning share of its quota.
ActionEvent fromQuotaWarning(const events::AccountNotice& notice, const QDateTime& now);
// An account reached its expiry date.
ActionEvent fromAccountExpired(const events::AccountNotice& notice, const QDateTime& now);
// A remote administrator logged in from `address`.
ActionEvent fromAdminLogin(const QString& address, const QDateTime& now);
// The ACME certificate renewed (`failed` false) or not; `detail` says which and why.
ActionEvent fromCertificate(bool failed, const QString& detail, const QDateTime& now);

// KV_EVENT, KV_USER, KV_ADDRESS, KV_PATH, KV_FILE, KV_SIZE, KV_TIME, KV_PROTOCOL,
// KV_DETAIL over `base`.
QProcessEnvironment actionEnvironment(const ActionEvent& event, QProcessEnvironment base);

// "2026-12-08T18:09:37Z"
QString isoUtc(const QDateTime& time);

} // namespace kv::actions
