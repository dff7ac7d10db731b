#include "files/FileSizeSignal.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

namespace kv::files {

void keepRunningPastFileSizeLimit() {
#ifdef Q_OS_UNIX
    static const bool settled = [] {
        struct sigaction current {};
        if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            ::signal(SIGXFSZ, SIG_IGN);
        return true;
    }();
    Q_UNUSED(settled);
#endif
}

} // namespace kv::files
