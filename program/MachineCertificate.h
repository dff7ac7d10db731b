#pragma once
// The certificate steps the program offers, done for this machine: the
// self-signed certificate names its host name and every address of its
// network interfaces, so clients connecting by either can check it.

#include "core/CertificateTools.h"

namespace kv {

CertificateTools machineCertificateTools();

} // namespace kv
