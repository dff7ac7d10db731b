#pragma once
// The program's command line: --headless, --data-dir DIR, --service, --choose,
// --help, --version. It is read before any application object exists, so
// help, the version and a bad command line need no display.

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

// What the command line asks for: to run with `options`, or to print
// `text` and end with `exitCode` (0: the help or the version, for standard
// output; 2: what is wrong with the command line, in Italian, for standard
// error).
struct CommandLineReading {
    bool run = true;
    CommandLine options;
    int exitCode = 0;
    QString text;
};

// Reads the arguments (argv[0] first). Qt's own options for windows
// (-platform, -style, -display, ...) are let through for the window to use.
CommandLineReading readCommandLine(const QStringList& arguments);

} // namespace kv
