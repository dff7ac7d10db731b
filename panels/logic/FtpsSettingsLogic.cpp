// The FTPS group's behaviour: loading, checking and keeping its options.
#include "panels/logic/FtpsSettingsLogic.h"

#include "core/AcmePairStore.h"
#include "core/DataFolder.h"
#include "core/StartOptions.h"
#include "desktop/SystemErrorText.h"
#include "panels/logic/OptionEdit.h"

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

const QStringList& FtpsSettingsLogic::options() {
    static const QStringList names = {kTls,           kTlsImplicitPort, kTlsCertificate,
                                      kTlsPrivateKey, kTlsSessionReuse, kTlsMinVersion,
                                      kTlsMaxVersion};
    return names;
}

QString FtpsSettingsLogic::shown(const QString& option) const {
    return shownOption(table_, option);
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
    return changeOption(table_, option, text);
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
    // With FTPS off no certificate is in use, so there is nothing to say yet.
    if (!tools_.describe || shown(kTls) == QLatin1String("off"))
        return {};
    // A certificate from ACME serves instead of the generated one, which may
    // never have been made: the ACME group's line names the one in use.
    if (shown(kAcme) == QLatin1String("on") && shown(kTlsCertificate).isEmpty() &&
        AcmePairStore(dataFolder_).pairInUse())
        return {};
    return shell::italianSystemErrors(tools_.describe(certificatePath()));
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
