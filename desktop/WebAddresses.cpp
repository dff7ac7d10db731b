#include "desktop/WebAddresses.h"

namespace kv::shell {

QString homePageAddress() {
    return QStringLiteral("http://") + kMakerHost;
}

QString versionDigits(int major, int minor, int revision) {
    return QStringLiteral("%1%2%3")
        .arg(major, 2, 10, QLatin1Char('0'))
        .arg(minor, 4, 10, QLatin1Char('0'))
        .arg(revision, 4, 10, QLatin1Char('0'));
}

QString helpPageAddress(int major, int minor, int revision) {
    return homePageAddress() + QStringLiteral("/ftpserver/index.php?v=") +
           versionDigits(major, minor, revision);
}

} // namespace kv::shell
