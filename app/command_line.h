#pragma once

#include <QStringList>
#include <optional>

namespace vistrale {

// What the command line asks for.
struct CommandLine {
    // Documents to open.
    QStringList files;
    // Set when the command line is answered without starting Vistrale (--help,
    // --version, an unknown option): the text for standard output or standard error,
    // and the exit status.
    std::optional<int> exitStatus;
    QString output;
    QString errorOutput;
};

// Reads the command line (the program name first). Needs no running application, so
// --help and --version answer without a display.
CommandLine parseCommandLine(const QStringList& arguments, const QString& version);

} // namespace vistrale
