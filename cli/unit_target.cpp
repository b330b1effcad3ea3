// Unit addresses and ports as typed, checked the way the main window checks them.
#include "cli/unit_target.h"

#include <filesystem>
#include <system_error>

#include <nlohmann/json.hpp>

#include "discovery/discovery_formats.h"
#include "platform/files.h"
#include "platform/serial.h"
#include "platform/serial_names.h"
#include "platform/sockets.h"
#include "platform/text.h"
#include "transport/com_transport.h"

namespace {

// 0.0.0.0 and the limited broadcast name no single unit; the window refuses them too.
bool namesNoSingleUnit(uint32_t address) {
    return address == platform::ipv4Address(0, 0, 0, 0) || address == platform::ipv4Address(255, 255, 255, 255);
}

// The device a serial name opens, links resolved, so two names of one port compare equal.
std::wstring resolvedDevice(const std::wstring& device) {
    std::error_code failed;
    const std::filesystem::path real = std::filesystem::canonical(device, failed);
    return failed ? device : real.wstring();
}

bool looksLikeAddress(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789.") == std::string::npos;
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool addAddress(const std::string& text, const std::string& origin, std::vector<UnitTarget>& targets,
                std::string& error) {
    const std::string where = origin == "--ip" ? "--ip " + text : origin + ": " + text;
    uint32_t address = 0;
    if (!parseIpv4(text, address)) {
        error = where + ": not an IPv4 address";
        return false;
    }
    if (namesNoSingleUnit(address) || !isUsableUnitAddress(address)) {
        error = where + ": this address cannot reach a unit (0.0.0.0, loopback 127.0.0.1 or a broadcast address)";
        return false;
    }
    targets.push_back({text, UnitAddress::network(address), origin});
    return true;
}

void addSerialPort(const std::string& text, const std::string& origin, std::vector<UnitTarget>& targets) {
    const std::wstring device = resolvedDevice(platform::serialDeviceName(platform::fromUtf8(text)));
    targets.push_back({text, UnitAddress::serialPort(device), origin});
}

// A name from a file: an address when it could only be one, a serial port otherwise.
bool addNamed(const std::string& text, const std::string& origin, std::vector<UnitTarget>& targets,
              std::string& error) {
    if (looksLikeAddress(text)) return addAddress(text, origin, targets, error);
    addSerialPort(text, origin, targets);
    return true;
}

bool readText(const std::string& path, const char* option, std::string& text, std::string& error) {
    std::vector<uint8_t> bytes;
    std::string reason;
    if (!platform::readWholeFile(platform::pathFromUtf8(path), bytes, &reason)) {
        error = std::string(option) + " " + path + ": cannot be read: " + reason;
        return false;
    }
    text.assign(bytes.begin(), bytes.end());
    return true;
}

bool addUnitsFile(const std::string& path, std::vector<UnitTarget>& targets, std::string& error) {
    std::string text;
    if (!readText(path, "--units", text, error)) return false;
    size_t lineNumber = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        std::string line = text.substr(at, end - at);
        at = end + 1;
        ++lineNumber;
        line = trimmed(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        if (!addNamed(line, path + ":" + std::to_string(lineNumber), targets, error)) return false;
    }
    return true;
}

bool addReportUnits(const std::string& path, bool failedOnly, std::vector<UnitTarget>& targets, std::string& error) {
    std::string text;
    if (!readText(path, "--units-from", text, error)) return false;
    const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.contains("units") || !document["units"].is_array()) {
        error = "--units-from " + path + ": not a ztupdate JSON result (no \"units\" list)";
        return false;
    }
    for (const nlohmann::json& unit : document["units"]) {
        if (!unit.contains("target") || !unit["target"].is_string()) {
            error = "--units-from " + path + ": a unit without a \"target\"";
            return false;
        }
        const std::string result = unit.value("result", "");
        if (failedOnly && isSuccessResult(result)) continue;
        if (!addNamed(unit["target"].get<std::string>(), path, targets, error)) return false;
    }
    return true;
}

// A file's line is named with it: "192.0.2.10 (units.txt:4)".
std::string named(const UnitTarget& target) {
    if (target.origin == "--ip" || target.origin == "--serial") return target.label;
    return target.label + " (" + target.origin + ")";
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

bool parseIpv4(const std::string& text, uint32_t& address) {
    uint8_t octets[4] = {};
    size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (at >= text.size() || text[at] != '.') return false;
            ++at;
        }
        size_t digits = 0;
        unsigned value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 3) {
            value = value * 10 + static_cast<unsigned>(text[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || value > 255) return false;
        octets[i] = static_cast<uint8_t>(value);
    }
    if (at != text.size()) return false;
    address = platform::ipv4Address(octets[0], octets[1], octets[2], octets[3]);
    return true;
}

bool isSuccessResult(const std::string& result) {
    return result == "upgraded" || result == "updated" || result == "exited" || result == "enabled";
}

bool collectTargets(const GlobalOptions& options, std::vector<UnitTarget>& targets, std::string& error) {
    targets.clear();
    for (const std::string& text : options.unitAddresses) {
        if (!addAddress(text, "--ip", targets, error)) return false;
    }
    for (const std::string& text : options.serialPorts) addSerialPort(text, "--serial", targets);
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
        error = options.unitsFrom.empty() ? "name a unit with --ip ADDRESS, --serial PORT or --units FILE"
                                          : "--units-from " + options.unitsFrom + ": no unit to run on";
        return false;
    }
    return !findDuplicate(targets, error);
}

bool checkSerialPortsOpen(const std::vector<UnitTarget>& targets, std::string& error) {
    for (const UnitTarget& target : targets) {
        if (!target.unit.isSerial()) continue;
        platform::SerialPort port;
        std::string reason;
        if (port.open(target.unit.portName, kBootloaderBaudRate, &reason)) continue;
        error = reason == "in use by another program" ? target.label + " is " + reason
                                                      : "cannot open " + target.label + ": " + reason;
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
