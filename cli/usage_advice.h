// What ztupdate says about a command line it cannot take: a mistyped command or option with the
// nearest one, a command's option put before the command, and the short usage of a bare call.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

// The name in names nearest to a mistyped one ("ststus" gives "status"); empty when none is
// within two edits.
std::string nearestName(const std::vector<std::string>& names, const std::string& typed);

// The command name nearest to a mistyped one; empty when none is within two edits.
std::string nearestCommand(const CLI::App& app, const std::string& typed);

// Advice on the first word of argv that is not a command or an option where it stands, on
// standard error; false when every word is in its place (the parser's own message is then shown).
bool reportUsageAdvice(const CLI::App& app, int argc, char** argv);

// "Usage: ..." and one line a command, as a bare `ztupdate` prints it.
std::string shortUsage(const CLI::App& app);
