// Unit addresses and ports as typed, checked the way the main window checks them.
#include "cli/unit_target.h"

#include <filesystem>
#include <system_error>

#include "discovery/discovery_formats.h"
#include "platform/serial.h"
#include "platform/serial_names.h"
#include "platform/sockets.h"
#include "platform/text.h"
#include "transport/com_transport.h"
#include "transport/ethernet_transport.h"

namespace {
constexpr uint32_t kBootloaderBaud = 115200;

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

bool sameUnit(const UnitTarget& a, const UnitTarget& b) {
    if (a.serial != b.serial) return false;
    return a.serial ? a.portName == b.portName : a.address == b.address;
}

// Two runs on one unit interleave their requests and leave its memory wrong, so each unit once.
bool findDuplicate(const std::vector<UnitTarget>& targets, std::string& error) {
    for (size_t i = 0; i < targets.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (!sameUnit(targets[i], targets[j])) continue;
            error = targets[i].label + " names the same unit as " + targets[j].label + "; name each unit once";
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

bool collectTargets(const GlobalOptions& options, std::vector<UnitTarget>& targets, std::string& error) {
    targets.clear();
    for (const std::string& text : options.unitAddresses) {
        UnitTarget target{text, false, {}, 0};
        if (!parseIpv4(text, target.address)) {
            error = "--ip " + text + ": not an IPv4 address";
            return false;
        }
        if (namesNoSingleUnit(target.address) || !isUsableUnitAddress(target.address)) {
            error = "--ip " + text + ": this address cannot reach a unit (0.0.0.0, loopback 127.0.0.1 or a broadcast address)";
            return false;
        }
        targets.push_back(target);
    }
    for (const std::string& text : options.serialPorts) {
        targets.push_back({text, true, resolvedDevice(platform::serialDeviceName(platform::fromUtf8(text))), 0});
    }
    if (targets.empty()) {
        error = "name a unit with --ip ADDRESS or --serial PORT";
        return false;
    }
    return !findDuplicate(targets, error);
}

bool checkSerialPortsOpen(const std::vector<UnitTarget>& targets, std::string& error) {
    for (const UnitTarget& target : targets) {
        if (!target.serial) continue;
        platform::SerialPort port;
        std::string reason;
        if (port.open(target.portName, kBootloaderBaud, &reason)) continue;
        error = reason == "in use by another program" ? target.label + " is " + reason
                                                      : "cannot open " + target.label + ": " + reason;
        return false;
    }
    return true;
}

bool prepareTargets(const GlobalOptions& options, std::vector<UnitTarget>& targets, std::string& error) {
    return collectTargets(options, targets, error) && checkSerialPortsOpen(targets, error);
}

std::unique_ptr<Transport> bootloaderTransport(const UnitTarget& target) {
    if (target.serial) return std::make_unique<COMTransport>(target.portName, kBootloaderBaud);
    return std::make_unique<EthernetTransport>(target.address);
}
