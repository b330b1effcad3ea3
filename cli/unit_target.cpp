// Unit addresses and ports as typed, checked the way the main window checks them.
#include "cli/unit_target.h"

#include "cli/target_text.h"
#include "platform/files.h"
#include "platform/serial.h"
#include "platform/serial_names.h"
#include "transport/com_transport.h"

namespace {

bool fromFile(const UnitTarget& target) { return target.origin != "--ip" && target.origin != "--serial"; }

bool readText(const std::string& path, const char* option, std::string& text, std::string& error) {
    std::vector<uint8_t> bytes;
    std::string reason;
    if (!platform::readWholeFile(platform::argumentPath(path), bytes, &reason)) {
        error = std::string(option) + " " + shownText(path, kShownWhole) + ": cannot be read: " + reason;
        return false;
    }
    text.assign(bytes.begin(), bytes.end());
    return true;
}

// Each name of a file becomes a target, in order; a serial port's device has its links resolved.
bool addNames(const std::vector<NamedUnit>& names, NameSource source, std::vector<UnitTarget>& targets,
              std::string& error) {
    for (const NamedUnit& name : names) {
        if (targets.size() == kMostUnits) {
            error = "more than " + std::to_string(kMostUnits) + " units named; one run takes at most " +
                    std::to_string(kMostUnits) + ": split them over several runs";
            return false;
        }
        UnitTarget target;
        if (!targetFromName(name.text, source, name.origin, target, error)) return false;
        if (target.unit.isSerial()) {
            target.unit = UnitAddress::serialPort(platform::resolvedSerialDevice(target.unit.portName));
        }
        targets.push_back(std::move(target));
    }
    return true;
}

// The command line's names, with the option as their origin.
std::vector<NamedUnit> typedNames(const std::vector<std::string>& texts, const char* option) {
    std::vector<NamedUnit> names;
    for (const std::string& text : texts) names.push_back({text, option});
    return names;
}

bool addUnitsFile(const std::string& path, std::vector<UnitTarget>& targets, std::string& error) {
    std::string text;
    std::vector<NamedUnit> names;
    return readText(path, "--units", text, error) && readUnitsText(text, path, names, error) &&
           addNames(names, NameSource::kFile, targets, error);
}

bool addReportUnits(const std::string& path, bool failedOnly, std::vector<UnitTarget>& targets, std::string& error) {
    std::string text;
    std::vector<NamedUnit> names;
    return readText(path, "--units-from", text, error) && readReportText(text, path, failedOnly, names, error) &&
           addNames(names, NameSource::kFile, targets, error);
}

// A file's line is named with it: "192.0.2.10 (units.txt:4)".
std::string named(const UnitTarget& target) {
    if (!fromFile(target)) return shownText(target.label);
    return shownText(target.label) + " (" + target.origin + ")";
}

// Two runs on one unit interleave their requests and leave its memory wrong, so each unit once.
bool findDuplicate(const std::vector<UnitTarget>& targets, std::string& error) {
    for (size_t i = 0; i < targets.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (targets[i].unit != targets[j].unit) continue;
            error = named(targets[i]) + " names the same unit as " + named(targets[j]) + "; name each unit once";
            return true;
        }
    }
    return false;
}
}  // namespace

bool collectTargets(const GlobalOptions& options, std::vector<UnitTarget>& targets, std::string& error) {
    targets.clear();
    if (!addNames(typedNames(options.unitAddresses, "--ip"), NameSource::kIp, targets, error) ||
        !addNames(typedNames(options.serialPorts, "--serial"), NameSource::kSerial, targets, error)) {
        return false;
    }
    for (const std::string& path : options.unitFiles) {
        if (!addUnitsFile(path, targets, error)) return false;
    }
    if (options.failedOnly && options.unitsFrom.empty()) {
        error = "--failed needs --units-from REPORT";
        return false;
    }
    if (!options.unitsFrom.empty() && !addReportUnits(options.unitsFrom, options.failedOnly, targets, error)) {
        return false;
    }
    if (targets.empty()) {
        error = options.unitsFrom.empty()
                    ? "name a unit with --ip ADDRESS, --serial PORT or --units FILE"
                    : "--units-from " + shownText(options.unitsFrom, kShownWhole) + ": no unit to run on";
        return false;
    }
    return !findDuplicate(targets, error);
}

bool checkSerialPortsOpen(const std::vector<UnitTarget>& targets, std::string& error) {
    for (const UnitTarget& target : targets) {
        if (!target.unit.isSerial()) continue;
        platform::SerialPort port;
        platform::SerialOpenError failure;
        if (port.open(target.unit.portName, kBootloaderBaudRate, &failure)) continue;
        // A file's target is named with its line, as every message about it is.
        const std::string where = fromFile(target) ? target.origin + ": " : "";
        if (failure.reason.empty()) failure.reason = "the system gave no reason";
        error = where + (failure.kind == platform::SerialOpenError::Kind::kInUse
                             ? shownText(target.label) + " is " + failure.reason
                             : "cannot open " + shownText(target.label) + ": " + failure.reason);
        return false;
    }
    return true;
}

bool prepareTargets(const GlobalOptions& options, std::vector<UnitTarget>& targets, std::string& error) {
    return collectTargets(options, targets, error) && checkSerialPortsOpen(targets, error);
}

std::vector<std::string> targetLabels(const std::vector<UnitTarget>& targets) {
    std::vector<std::string> labels;
    for (const UnitTarget& target : targets) labels.push_back(target.label);
    return labels;
}

bool nothingFailedIn(const GlobalOptions& options) {
    if (!options.failedOnly || options.unitsFrom.empty() || !options.unitAddresses.empty() ||
        !options.serialPorts.empty() || !options.unitFiles.empty())
        return false;
    std::vector<UnitTarget> all;
    std::vector<UnitTarget> failed;
    std::string error;
    return addReportUnits(options.unitsFrom, false, all, error) && !all.empty() &&
           addReportUnits(options.unitsFrom, true, failed, error) && failed.empty();
}
