#include "core/ServerBoxes.h"

#include "access/DataView.h"
#include "settings/OptionCatalog.h"

namespace kv {

QString SettingsRowBoxes::fieldName(ServerBox box) {
    switch (box) {
    case ServerBox::Address:
        return settings::setting::kIp;
    case ServerBox::Port:
        return settings::setting::kPort;
    case ServerBox::Root:
        return settings::setting::kRootDir;
    case ServerBox::DataLingerTime:
        return settings::setting::kDataLingerTime;
    case ServerBox::ResolveLinks:
        return settings::setting::kResolveLinks;
    case ServerBox::Timeout:
        return settings::setting::kTimeout;
    case ServerBox::DebugMode:
        return settings::setting::kDebugMode;
    }
    return {};
}

QString SettingsRowBoxes::text(ServerBox box) const {
    return settings_.Field(fieldName(box));
}

void SettingsRowBoxes::setText(ServerBox box, const QString& text) {
    if (settings_.Edit())
        settings_.setField(fieldName(box), text);
}

} // namespace kv
