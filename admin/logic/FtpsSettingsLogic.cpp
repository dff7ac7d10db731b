// The FTPS group's behaviour: loading, checking and keeping its options.
#include "admin/logic/FtpsSettingsLogic.h"

#include "core/DataFolder.h"
#include "core/StartOptions.h"

namespace kv::admin {

namespace {
using namespace settings::option;
} // namespace

const QStringList& ftpsModeCaptions() {
    static const QStringList captions = {QStringLiteral("Nessuna"), QStringLiteral("Consentita"),
                                         QStringLiteral("Obbligatoria")};
    return captions;
}

const QStringList& ftpsVersions() {
    static const QStringList versions = {QStringLiteral("1.2"), QStringLiteral("1.3")};
    return versions;
}

FtpsSettingsLogic::FtpsSettingsLogic(access::OptionsTable& table, QString dataFolder,
                                     CertificateTools tools)
    : table_(table), dataFolder_(std::move(dataFolder)), tools_(std::move(tools)) {}

// The option's text as the operator should see it: its normal form when it
// is valid, else the stored text itself so that it can be corrected.
QString FtpsSettingsLogic::shown(const QString& option) const {
    const QString raw = table_.value(option);
    const settings::OptionCheck checked = table_.catalog().check(option, raw);
    return checked.ok() ? checked.value : raw;
}

FtpsForm FtpsSettingsLogic::load() const {
    FtpsForm form;
    const settings::OptionDef* tls = table_.catalog().find(kTls);
    form.mode = tls ? int(tls->words.indexOf(shown(kTls))) : -1;
    form.implicitPort = shown(kTlsImplicitPort);
    if (form.implicitPort == QLatin1String("0"))
        form.implicitPort.clear();
    form.certificateFile = shown(kTlsCertificate);
    form.privateKeyFile = shown(kTlsPrivateKey);
    form.sessionReuse = shown(kTlsSessionReuse) != QLatin1String("0");
    form.minVersion = int(ftpsVersions().indexOf(shown(kTlsMinVersion)));
    form.maxVersion = int(ftpsVersions().indexOf(shown(kTlsMaxVersion)));
    return form;
}

std::optional<QString> FtpsSettingsLogic::change(const QString& option, const QString& text) {
    const settings::OptionCatalog& catalog = table_.catalog();
    const settings::OptionCheck checked = catalog.check(option, text);
    if (!checked.ok())
        return checked.error;

    // A value fine on its own may still clash with another option (a minimum
    // version above the maximum): only a reason the change brings refuses it.
    QMap<QString, QString> rows = table_.read().rows;
    for (auto it = table_.pending().begin(); it != table_.pending().end(); ++it)
        rows.insert(it.key(), it.value());
    const QStringList before = catalog.checkAll(rows).errors;
    rows.insert(option, checked.value);
    for (const QString& error : catalog.checkAll(rows).errors) {
        if (!before.contains(error))
            return error;
    }

    const settings::OptionCheck stored = catalog.check(option, table_.read().rows.value(option));
    if (stored.ok() && stored.value == checked.value)
        table_.dropPending(option); // back to what the file holds: nothing to write
    else
        table_.setPending(option, checked.value);
    return std::nullopt;
}

std::optional<QString> FtpsSettingsLogic::changeMode(int index) {
    const settings::OptionDef* tls = table_.catalog().find(kTls);
    if (!tls || index < 0 || index >= tls->words.size())
        return std::nullopt;
    return change(kTls, tls->words.at(index));
}

std::optional<QString> FtpsSettingsLogic::changeVersion(const QString& option, int index) {
    if (index < 0 || index >= ftpsVersions().size())
        return std::nullopt;
    return change(option, ftpsVersions().at(index));
}

std::optional<QString> FtpsSettingsLogic::changeReuse(bool on) {
    return change(kTlsSessionReuse, on ? QStringLiteral("1") : QStringLiteral("0"));
}

QString FtpsSettingsLogic::certificatePath() const {
    return resolvedOptionPath(shown(kTlsCertificate), dataFolder_,
                              defaultCertificateFile(dataFolder_));
}

QString FtpsSettingsLogic::privateKeyPath() const {
    return resolvedOptionPath(shown(kTlsPrivateKey), dataFolder_,
                              defaultPrivateKeyFile(dataFolder_));
}

QString FtpsSettingsLogic::certificateLine() const {
    return tools_.describe ? tools_.describe(certificatePath()) : QString();
}

bool FtpsSettingsLogic::generateUsable() const {
    return generateOffered() && shown(kTlsCertificate).isEmpty() && shown(kTlsPrivateKey).isEmpty();
}

QString FtpsSettingsLogic::generate(Messages& messages) {
    if (!generateUsable() || !messages.confirm(kGenerateQuestion))
        return {};
    const QString problem =
        tools_.generate(defaultCertificateFile(dataFolder_), defaultPrivateKeyFile(dataFolder_));
    return problem.isEmpty() ? kGeneratedMessage : problem;
}

} // namespace kv::admin
