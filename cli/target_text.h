// The texts that name units, as a person typed them: an IPv4 address or a serial port, on the
// command line, a line of a units file or a target of an earlier JSON result. Their checks,
// the readers of units files and results over bytes, and the form in which messages echo them.
// Nothing here opens a file or a port and nothing throws, so the fuzz targets run all of it on
// any bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "cli/unit_target.h"

// How many characters of a typed text a message shows before it cuts the rest to "...".
constexpr size_t kShownChars = 100;
// File names are shown whole, escaped: the end of a path is what tells two apart.
constexpr size_t kShownWhole = static_cast<size_t>(-1);
// One run takes at most this many units, as --jobs does at once: each runs on a thread of its own.
constexpr size_t kMostUnits = 1024;

// `text` as a message may echo it: control characters, invisible ones (U+200B, U+FEFF, ...)
// and bytes that are not UTF-8 become escapes (\x1b, \t, \u200b, \xff), never raw bytes for a
// terminal to act on; after maxChars characters the rest becomes "...".
std::string shownText(std::string_view text, size_t maxChars = kShownChars);

// Why text cannot name a unit at all: "an empty name", "it holds a control character (\x00)",
// an invisible character, a byte that is not UTF-8 text. Empty when it can.
std::string unusableNameProblem(std::string_view text);

// Why text, which is no IPv4 address, is none when it looks like a network name: "a port
// number does not belong here" (192.0.2.10:6234), an IPv6 address (::1), a host name
// (localhost), a mistyped address (127.0.0.1O, -1.2.3.4), digits and dots that are not four
// numbers. Empty when it does not look like one, as a serial port's name does not.
std::string networkNameProblem(const std::string& text);

// How a name was given: with --ip, with --serial, or in a units file or result, where its form
// decides what it is.
enum class NameSource { kIp, kSerial, kFile };

// A name read from a file, and where: "venue.txt:4", or the result file's name.
struct NamedUnit {
    std::string text;
    std::string origin;
};

// The names of a units file, from its bytes: one a line (a line ends at \n, \r\n or \r), a
// leading UTF-8 byte-order mark skipped, `#` and what follows it a comment, spaces and tabs
// around a name dropped, blank lines skipped. False, with "FILE:LINE: ..." in error, for a line
// of several words or a file in UTF-16.
bool readUnitsText(std::string_view text, const std::string& fileName, std::vector<NamedUnit>& names,
                   std::string& error);

// The units of an earlier --json or --report result, from its bytes: each "target", or with
// failedOnly those whose "result" is not a success (an unknown one is a failure). False, with
// "--units-from FILE: ..." naming the key at fault (units[2].result is a number, not a string),
// for anything but such a result.
bool readReportText(std::string_view text, const std::string& fileName, bool failedOnly, std::vector<NamedUnit>& names,
                    std::string& error);

// Checks one name and makes its target. --ip takes only IPv4 addresses; --serial only serial
// ports; a file's name is an address when it holds only digits and dots, is refused when it
// looks like another network name, and is a serial port otherwise. A serial port's links are
// not resolved here. False, with the origin, the shown name and the reason, for a name that
// cannot be used or an address that no single unit has (0.0.0.0, loopback, a broadcast).
bool targetFromName(const std::string& text, NameSource source, const std::string& origin, UnitTarget& target,
                    std::string& error);
