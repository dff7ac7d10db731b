#include "monitor/OnlineList.h"

#include "access/PasswordHash.h"

namespace kv::monitor {

const QStringList& onlineHeaders() {
    static const QStringList headers = {QStringLiteral("Login"), QStringLiteral("Password"),
                                        QStringLiteral("IP"), QStringLiteral("Root directory"),
                                        QStringLiteral("Permessi")};
    return headers;
}

QString EsplicitaPermessi(const QString& sTesto) {
    QString files;
    QString folders;
    const auto has = [&](char letter) { return sTesto.contains(QLatin1Char(letter)); };
    if (has('R'))
        files += QStringLiteral("lettura ");
    if (has('W'))
        files += QStringLiteral("scrittura ");
    if (has('D'))
        files += QStringLiteral("cancellazione ");
    if (has('B'))
        folders += QStringLiteral("navigazione ");
    if (has('M'))
        folders += QStringLiteral("scrittura ");
    files = files.trimmed();
    folders = folders.trimmed();
    if (files.isEmpty())
        files = QStringLiteral("nessuno");
    if (folders.isEmpty())
        folders = QStringLiteral("nessuno");
    return QStringLiteral("File: ") + files + QStringLiteral(" Cartelle: ") + folders;
}

namespace {

// The anonymous account's "password" is the visitor's e-mail address, worth
// seeing; an account's password is never put on screen.
QString shownPassword(const session::ConnectionObject& c) {
    if (c.UserName().compare(QLatin1String("anonymous"), Qt::CaseInsensitive) == 0)
        return c.Password();
    return access::maskedPassword(c.Password());
}

} // namespace

QString refusedLoginText(const QString& reason) {
    return QStringLiteral("Login rifiutato: %1").arg(reason);
}

QString onlineKey(const session::ConnectionObject& connection) {
    return QStringLiteral("k") + QString::number(connection.Id());
}

QList<OnlineRow> buildOnlineRows(const QList<session::ConnectionObject*>& connections,
                                 const QString& defaultRoot) {
    QList<OnlineRow> rows;
    rows.reserve(connections.size());
    for (const session::ConnectionObject* c : connections) {
        if (!c)
            continue;
        // What the login granted; before a login the client has no rights yet.
        const files::LoginGrant* grant = c->Grant();
        QString root = grant ? grant->root : QString();
        if (root.isEmpty())
            root = defaultRoot;
        OnlineRow row;
        row.key = onlineKey(*c);
        row.columns = {c->UserName(), shownPassword(*c), c->LoginAddress(), root,
                       EsplicitaPermessi(grant ? grant->rights.letters() : QString())};
        // A refused login is no account at work: it says why, not a root and rights.
        if (!grant && !c->LoginRefusal().isEmpty()) {
            row.columns[3].clear();
            row.columns[4] = refusedLoginText(c->LoginRefusal());
        }
        rows.append(row);
    }
    return rows;
}

QString usersNumberText(qsizetype connections) {
    if (connections == 0)
        return {};
    return QString::number(connections) + QStringLiteral(" utenti connessi");
}

SelectionAfterRebuild reselect(const QList<OnlineRow>& rows, const QString& rememberedKey) {
    if (rememberedKey.isEmpty())
        return {};
    for (int i = 0; i < rows.size(); ++i) {
        if (rows[i].key == rememberedKey)
            return {i, rememberedKey};
    }
    return {};
}

session::ConnectionObject*
connectionToDisconnect(const QList<session::ConnectionObject*>& connections, const QString& key) {
    for (session::ConnectionObject* c : connections) {
        if (c && onlineKey(*c) == key)
            return c;
    }
    return nullptr;
}

namespace {
QString columnValueName(int column) {
    return QStringLiteral("OnlineCol") + QString::number(column + 1);
}
} // namespace

ColumnWidths loadColumnWidths(const SettingsStore& settings, const ColumnWidths& current) {
    ColumnWidths widths = current;
    for (int i = 0; i < kOnlineColumns; ++i) {
        const QString text = settings.value(kAppTarrow, kSectionAppIni, columnValueName(i));
        bool ok = false;
        const float value = text.trimmed().toFloat(&ok);
        // A negative or unreadable width would hide the column for good.
        if (ok && value >= 0)
            widths[i] = value;
    }
    return widths;
}

void saveColumnWidths(SettingsStore& settings, const ColumnWidths& widths) {
    for (int i = 0; i < kOnlineColumns; ++i) {
        settings.setValue(kAppTarrow, kSectionAppIni, columnValueName(i),
                          QString::number(static_cast<float>(widths[i])));
    }
}

ColumnWidths ColumnScaler::adapt(double listWidth, const ColumnWidths& widths) {
    if (remembered_ == 0) {
        remembered_ = static_cast<float>(listWidth);
        return widths;
    }
    const double factor = listWidth / remembered_;
    ColumnWidths scaled = widths;
    for (double& w : scaled)
        w = static_cast<float>(w * factor);
    remembered_ = static_cast<float>(listWidth);
    return scaled;
}

} // namespace kv::monitor
