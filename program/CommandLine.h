#pragma once
// The program's command line: --headless, --data-dir DIR, --service, --choose,
// --help, --version.

#include <QString>
#include <QStringList>

namespace kv {

struct CommandLine {
    bool headless = false;
    QString dataDir;
    // The system service's data folder instead of the user's (window only).
    bool service = false;
    // Ask again which server the window opens (the service's or one's own).
    bool choose = false;
};

// True when the arguments ask for no window at all (headless, help or
// version), so the program can start without a display.
bool wantsNoWindow(int argc, char** argv);

// Parses the application's arguments; --help and --version print and exit
// the process, as on any command-line program, and so does a bad option.
CommandLine parseCommandLine(const QStringList& arguments);

} // namespace kv
