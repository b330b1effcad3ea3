// The units a command works on, from --ip and --serial, and the transports that reach them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/global_options.h"
#include "transport/unit_address.h"

struct UnitTarget {
    // As the user typed it; the unit's name in every report.
    std::string label;
    // A serial port's device name has its links resolved.
    UnitAddress unit;
    // Where it was named, for messages: "--ip", "--serial", "units.txt:4", "old.json".
    std::string origin;
};

// Strict dotted quad ("192.0.2.10"); false for anything else.
bool parseIpv4(const std::string& text, uint32_t& address);

// Every --ip, every --serial, each --units file's lines, then the units of --units-from, in
// order (cli/target_text.h reads and checks the names). A file line is an IPv4 address when it
// holds only digits and dots, else a serial port, unless it looks like another network name
// (192.0.2.10:6234, localhost, ::1, 127.0.0.1O); `#` starts a comment, blank lines are skipped.
// False, with a message, for an address that is not one, or that the GUI would refuse (0.0.0.0,
// 127.0.0.1, a broadcast), for a name that cannot name a unit (a control character, a byte that
// is not UTF-8 text), for a unit named twice (127.0.0.03 is 127.0.0.3; two links to one serial
// device are one port), for more than kMostUnits units, for a file that cannot be read or is not
// what it should be, or when none was given.
bool collectTargets(const GlobalOptions& options, std::vector<UnitTarget>& targets, std::string& error);

// Opens and closes each serial target's port once, so a port that is missing, not a port or
// held by another program is named before any run ("cannot open /dev/ttyUSB9: No such file or
// directory", "COM3 is in use by another program", after "units.txt:4: " for a file's line)
// rather than reported as a silent unit.
bool checkSerialPortsOpen(const std::vector<UnitTarget>& targets, std::string& error);

// collectTargets, then checkSerialPortsOpen: what every command talking to units starts with.
bool prepareTargets(const GlobalOptions& options, std::vector<UnitTarget>& targets, std::string& error);
// True when the units come from --units-from REPORT --failed alone and every unit of that
// report succeeded: there is nothing to do, which is no error.
bool nothingFailedIn(const GlobalOptions& options);

// Each target's label, in order: the display's and the log's unit names.
std::vector<std::string> targetLabels(const std::vector<UnitTarget>& targets);
