#include "core/ServerBoxes.h"

#include "access/DataView.h"

namespace kv {

QString SettingsRowBoxes::fieldName(ServerBox box) {
    switch (box) {
    case ServerBox::Address:
        return QStringLiteral("ip");
    case ServerBox::Port:
        return QStringLiteral("port");
    case ServerBox::Root:
        return QStringLiteral("rootdir");
    case ServerBox::DataLingerTime:
        return QStringLiteral("datalingertime");
    case ServerBox::ResolveLinks:
        return QStringLiteral("resolvelinks");
    case ServerBox::Timeout:
        return QStringLiteral("timeout");
    case ServerBox::DebugMode:
        return QStringLiteral("debugmode");
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
