#pragma once
// The maker's web site: the home page the banner opens and the help page the
// Help panel shows. The host is named in one place; it lies under the reserved
// ".example" domain until the program has a site of its own, and the window
// serves its bundled help pages for it.

#include <QString>

namespace kv::shell {

inline const QString kMakerHost = QStringLiteral("kestrova.example");

// "http://" + host, no path.
QString homePageAddress();
// ".../ftpserver/index.php?v=" + the version as ten digits: major "00",
// minor "0000", revision "0000" (1.0.0 gives v=0100000000).
QString versionDigits(int major, int minor, int revision);
QString helpPageAddress(int major, int minor, int revision);

} // namespace kv::shell
