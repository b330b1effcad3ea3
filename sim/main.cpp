// zt-unit-sim: plays one or more ZT Series units for the updater's tests and demos.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "bootloader/commands.h"
#include "sim/host.h"
#include "sim/intel_hex.h"
#include "sim/net.h"
#include "sim/report.h"
#include "sim/sim_unit.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitCheckFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitReportFailed = 3;

// Delays and times beyond ten minutes are typing errors, not plans.
constexpr unsigned long kLongestRangeMs = 600000;
// One unit a host address of a /24 from the bind address on.
constexpr unsigned kMostUnits = 254;
// A bootloader version no updater takes, for --wrong-version.
constexpr uint8_t kWrongVersionMajor = 2;
constexpr uint8_t kWrongVersionMinor = 9;
// "00-1E-C0-00-00-01": six hexadecimal pairs; a fleet's units differ in the last.
constexpr size_t kMacTextLength = 17;
constexpr size_t kMacLastPairOffset = kMacTextLength - 2;

constexpr char kDescription[] =
    "Simulated ZT Series unit: bootloader over UDP and a pseudo-terminal, discovery responder,\n"
    "command port over TCP and the same pseudo-terminal, with injectable faults.\n\n"
    "On start it prints one line per service and then \"ready\" on standard output:\n"
    "  udp ADDR:PORT        bootloader frames, one per datagram\n"
    "  discovery ADDR:PORT  discovery requests\n"
    "  tcp ADDR:PORT        command port (listening only in application mode)\n"
    "  serial /dev/pts/N    serial line: bootloader frames or command text, by mode\n"
    "With --units N > 1 every line starts with \"unit I \". Unit I listens on the bind address\n"
    "plus I (127.0.0.1, 127.0.0.2, ... are all loopback) with the same ports, or with\n"
    "--fleet-layout ports on the bind address with every port plus I. Port 0 picks a free port.\n"
    "Output files of unit I > 0 get \".I\" appended to the given name. A unit bound to one\n"
    "address also hears discovery broadcasts to its interface's broadcast address.\n\n"
    "Exit status: 0 normal stop, 1 a --check-hex/--check-flash difference, 2 bad arguments or a\n"
    "service that cannot start, 3 an output file that cannot be written.";

struct Arguments {
    std::string bind = "127.0.0.1";
    UnitEndpoints endpoints;
    bool noUdp = false, noDiscovery = false, noTcp = false, noSerial = false;
    unsigned units = 1;
    std::string fleetLayout = "addresses";
    std::string startMode = "application";
    std::string bootloaderVersion;
    bool legacyBootloader = false;
    bool wrongVersion = false;
    std::string applicationVersion = "1.0";
    HostOptions host;
    std::string report, dumpHex, checkHex, checkFlash;
    UnitConfig unit;
    std::string copyDelay;
    std::vector<std::string> loseReplies;
    std::string slowProgram;
};

// "MIN" or "MIN-MAX".
bool parseRange(const std::string& text, uint32_t& low, uint32_t& high) {
    unsigned long a = 0, b = 0;
    char dash = 0, extra = 0;
    std::istringstream in(text);
    if (!(in >> a)) return false;
    b = a;
    if (in >> dash && (dash != '-' || !(in >> b) || in >> extra)) return false;
    if (b < a || b > kLongestRangeMs) return false;
    low = static_cast<uint32_t>(a);
    high = static_cast<uint32_t>(b);
    return true;
}

// "CODE:N" or "CODE:N-M", CODE in hexadecimal (0x85 or 85; bit 7 is ignored).
bool parseLostReplies(const std::string& text, FaultConfig::LostReplies& lost) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    try {
        size_t used = 0;
        const unsigned long code =
            std::stoul(text.substr(0, colon), &used, 16) & ~static_cast<unsigned long>(kSequencedBit);
        if (used != colon || code < kFirstCommandCode || code > kLastCommandCode) return false;
        if (!parseRange(text.substr(colon + 1), lost.first, lost.last) || lost.first == 0) return false;
        lost.code = static_cast<uint8_t>(code);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool parseVersion(const std::string& text, uint8_t& major, uint8_t& minor) {
    unsigned a = 0, b = 0;
    char dot = 0, extra = 0;
    std::istringstream in(text);
    if (!(in >> a >> dot >> b) || dot != '.' || in >> extra || a > 255 || b > 255) return false;
    major = static_cast<uint8_t>(a);
    minor = static_cast<uint8_t>(b);
    return true;
}

void defineOptions(CLI::App& app, Arguments& a) {
    UnitConfig& u = a.unit;
    FaultConfig& f = u.faults;
    app.add_option("--bind", a.bind, "IPv4 address to listen on")->capture_default_str();
    app.add_option("--udp-port", a.endpoints.udpPort, "bootloader UDP port")->capture_default_str();
    app.add_option("--discovery-port", a.endpoints.discoveryPort, "discovery UDP port")->capture_default_str();
    app.add_option("--tcp-port", a.endpoints.tcpPort, "command-port TCP port")->capture_default_str();
    app.add_flag("--no-udp", a.noUdp, "no bootloader over UDP");
    app.add_flag("--no-discovery", a.noDiscovery, "no discovery responder");
    app.add_flag("--no-tcp", a.noTcp, "no command port over TCP");
    app.add_flag("--no-serial", a.noSerial, "no pseudo-terminal");
    app.add_option("--serial-link", a.endpoints.serialLink, "also make PATH a symbolic link to the pseudo-terminal");
    app.add_flag("--pace-serial", a.host.paceSerial, "carry serial bytes at 115200 baud, 10 bits a byte, both ways");
    app.add_option("--units", a.units, "number of units")->check(CLI::Range(1u, kMostUnits))->capture_default_str();
    app.add_option("--fleet-layout", a.fleetLayout, "addresses or ports (see above)")
        ->check(CLI::IsMember({"addresses", "ports"}))
        ->capture_default_str();
    app.add_option("--start-mode", a.startMode, "application or bootload")
        ->check(CLI::IsMember({"application", "bootload"}))
        ->capture_default_str();
    app.add_option("--bootloader-version", a.bootloaderVersion, "MAJOR.MINOR (default 3.1)");
    app.add_flag("--legacy-bootloader", a.legacyBootloader,
                 "3.0-style bootloader: no third version byte, no sequenced commands");
    app.add_flag("--wrong-version", a.wrongVersion, "report bootloader version 2.9");
    app.add_option("--app-version", a.applicationVersion, "stored application MAJOR.MINOR")->capture_default_str();
    app.add_option("--model", u.model, "announced model")->capture_default_str();
    app.add_option("--unit-name", u.unitName, "first line of announcements")->capture_default_str();
    app.add_option("--mac", u.macAddress, "second line of announcements")->capture_default_str();
    app.add_option("--pin", u.pin, "Installer PIN")->capture_default_str();
    app.add_flag("--bootload-enabled", u.bootloadEnabled, "bootload mode starts enabled");
    app.add_option("--restart-ms", u.restartDelayMs, "restart time after <SY,BR/> or leave")->capture_default_str();
    app.add_flag("--careless-replay", u.carelessReplay,
                 "run a repeated record request from the current extended address");
    app.add_option("--seed", f.seed, "seed of the fault generator")->capture_default_str();
    app.add_option("--drop-in", f.dropIncomingPercent, "percent of frames lost on the way in")
        ->check(CLI::Range(0.0, 100.0));
    app.add_option("--drop-out", f.dropOutgoingPercent, "percent of replies lost on the way out")
        ->check(CLI::Range(0.0, 100.0));
    app.add_option("--corrupt", f.corruptPercent, "percent of replies with one byte changed")
        ->check(CLI::Range(0.0, 100.0));
    app.add_option("--erase-delay-ms", f.eraseDelayMs, "time an erase takes");
    app.add_option("--program-delay-ms", f.programDelayMs, "time a record or chunk write takes");
    app.add_option("--slow-program-percent", f.slowProgramPercent, "percent of record and chunk writes that are slow")
        ->check(CLI::Range(0.0, 100.0));
    app.add_option("--slow-program-ms", a.slowProgram, "extra time a slow write takes: MS, or MIN-MAX drawn each time");
    app.add_flag("--silent-bootloader", f.silentBootloader, "the bootloader never answers");
    app.add_flag("--restart-into-application", f.restartIntoApplication,
                 "answer <SY,BR/> but restart into the application, not the bootloader");
    app.add_flag("--reply-twice", f.replyTwice, "send every reply twice");
    app.add_option("--copy-delay-ms", a.copyDelay, "with --reply-twice: the second copy comes MIN[-MAX] ms later");
    app.add_option("--lose-reply", a.loseReplies,
                   "lose the replies to the N-th (to M-th) command of CODE 0x01-0x0D, as CODE:N[-M]; repeatable");
    app.add_option("--vanish-after", f.vanishAfterCommands, "go silent after N bootloader commands");
    app.add_option("--report", a.report, "write a JSON report at exit");
    app.add_option("--progress-file", a.host.progressFile,
                   "keep each unit's programmed count and closing command in this file while running");
    app.add_option("--dump-hex", a.dumpHex, "write the application memory as Intel HEX at exit");
    app.add_option("--check-hex", a.checkHex, "compare the application memory with this HEX file")
        ->check(CLI::ExistingFile);
    app.add_option("--check-flash", a.checkFlash, "compare the flash with this image, placed at 0x40000")
        ->check(CLI::ExistingFile);
    app.add_flag("--exit-after-close", a.host.exitAfterClose, "stop once every unit has received the closing command");
    app.add_option("--run-seconds", a.host.runSeconds, "stop after this many seconds")->check(CLI::NonNegativeNumber);
}

bool buildConfig(Arguments& a, std::string& error) {
    UnitConfig& u = a.unit;
    uint8_t major = 3, minor = 1;
    if (a.legacyBootloader) {
        minor = 0;
        u.acceptsSequenced = false;
    }
    if (!a.bootloaderVersion.empty() && !parseVersion(a.bootloaderVersion, major, minor)) {
        error = "--bootloader-version wants MAJOR.MINOR, got " + a.bootloaderVersion;
        return false;
    }
    if (a.wrongVersion) {
        major = kWrongVersionMajor;
        minor = kWrongVersionMinor;
    }
    u.bootloaderVersion = static_cast<uint16_t>(major << 8 | minor);
    if (!parseVersion(a.applicationVersion, u.applicationMajor, u.applicationMinor)) {
        error = "--app-version wants MAJOR.MINOR, got " + a.applicationVersion;
        return false;
    }
    u.startInBootload = a.startMode == "bootload";
    if (!a.copyDelay.empty() && !parseRange(a.copyDelay, u.faults.copyDelayMinMs, u.faults.copyDelayMaxMs)) {
        error = "--copy-delay-ms wants MIN or MIN-MAX milliseconds, got " + a.copyDelay;
        return false;
    }
    if (!a.slowProgram.empty() && !parseRange(a.slowProgram, u.faults.slowProgramMs, u.faults.slowProgramMaxMs)) {
        error = "--slow-program-ms wants MS or MIN-MAX milliseconds, got " + a.slowProgram;
        return false;
    }
    for (const std::string& text : a.loseReplies) {
        FaultConfig::LostReplies lost{};
        if (!parseLostReplies(text, lost)) {
            error = "--lose-reply wants CODE:N or CODE:N-M (a command code 0x01-0x0D, N from 1), got " + text;
            return false;
        }
        u.faults.lostReplies.push_back(lost);
    }
    if (!parseIpv4(a.bind, a.endpoints.address)) {
        error = "--bind wants an IPv4 address, got " + a.bind;
        return false;
    }
    if (a.units > 1 && a.fleetLayout == "addresses" && a.endpoints.address == 0) {
        error = "several units on --bind 0.0.0.0 need --fleet-layout ports";
        return false;
    }
    a.endpoints.udp = !a.noUdp;
    a.endpoints.discovery = !a.noDiscovery;
    a.endpoints.tcp = !a.noTcp;
    a.endpoints.serial = !a.noSerial;
    a.host.labelUnits = a.units > 1;
    return true;
}

std::string nthPath(const std::string& path, size_t index) {
    return path.empty() || index == 0 ? path : path + "." + std::to_string(index);
}

uint16_t stepPort(uint16_t port, size_t index) { return port == 0 ? 0 : static_cast<uint16_t>(port + index); }

UnitEndpoints endpointsOf(const Arguments& a, size_t index) {
    UnitEndpoints e = a.endpoints;
    e.serialLink = nthPath(e.serialLink, index);
    if (a.fleetLayout == "ports") {
        e.udpPort = stepPort(e.udpPort, index);
        e.discoveryPort = stepPort(e.discoveryPort, index);
        e.tcpPort = stepPort(e.tcpPort, index);
    } else {
        e.address += static_cast<uint32_t>(index);
    }
    return e;
}

UnitConfig configOf(const Arguments& a, size_t index) {
    UnitConfig u = a.unit;
    if (a.units > 1) {
        u.unitName += " " + std::to_string(index + 1);
        char mac[32];
        std::snprintf(mac, sizeof mac, "%s%02X", u.macAddress.substr(0, kMacLastPairOffset).c_str(),
                      static_cast<unsigned>((index + 1) & 0xFF));
        if (u.macAddress.size() == kMacTextLength) u.macAddress = mac;
        u.faults.seed += static_cast<uint32_t>(index);
    }
    return u;
}

bool readFile(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    content = text.str();
    return true;
}

bool writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return static_cast<bool>(out.flush());
}

struct Expected {
    bool hex = false;
    SparseMemory application;
    bool flash = false;
    SparseMemory flashImage;
};

bool loadExpected(const Arguments& a, Expected& expected, std::string& error) {
    std::string content;
    if (!a.checkHex.empty()) {
        std::string parseError;
        if (!readFile(a.checkHex, content) || !loadHexText(content, expected.application, parseError)) {
            error = "cannot use " + a.checkHex + ": " + (parseError.empty() ? "unreadable" : parseError);
            return false;
        }
        expected.hex = true;
    }
    if (!a.checkFlash.empty()) {
        if (!readFile(a.checkFlash, content)) {
            error = "cannot read " + a.checkFlash;
            return false;
        }
        expected.flashImage = flashFromImage(std::vector<uint8_t>(content.begin(), content.end()), kFlashOrigin);
        expected.flash = true;
    }
    return true;
}

// Writes the dumps and the report; returns the exit status.
int finish(const Arguments& a, const std::vector<std::unique_ptr<SimUnit>>& units, const Expected& expected) {
    bool allMatch = true;
    bool written = true;
    nlohmann::json report;
    report["units"] = nlohmann::json::array();
    for (size_t i = 0; i < units.size(); ++i) {
        const SimUnit& unit = *units[i];
        UnitReportInput input;
        input.unit = &unit;
        input.index = static_cast<int>(i);
        input.dumpHexPath = nthPath(a.dumpHex, i);
        if (expected.hex) {
            input.applicationCheck = compareMemory(unit.bootloader().applicationMemory(), expected.application);
        }
        if (expected.flash) {
            input.flashCheck = compareMemory(unit.bootloader().flashMemory(), expected.flashImage);
        }
        allMatch = allMatch && input.applicationCheck.matches && input.flashCheck.matches;
        if (!input.dumpHexPath.empty() &&
            !writeFile(input.dumpHexPath, formatHexText(unit.bootloader().applicationMemory()))) {
            std::cerr << "zt-unit-sim: cannot write " << input.dumpHexPath << "\n";
            written = false;
        }
        report["units"].push_back(unitReport(input));
    }
    report["check_passed"] = allMatch;
    // Paths come as the file system has them, not always UTF-8: such bytes are replaced in the
    // report rather than ending the simulator without one.
    const std::string reportText = report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    if (!a.report.empty() && !writeFile(a.report, reportText + "\n")) {
        std::cerr << "zt-unit-sim: cannot write " << a.report << "\n";
        written = false;
    }
    if (!allMatch) std::cerr << "zt-unit-sim: stored content differs from the expected files\n";
    if (!written) return kExitReportFailed;
    return allMatch ? kExitOk : kExitCheckFailed;
}

}  // namespace

// What may still escape (memory running out) is left to abort the run: a crash with its core
// tells the test that started the simulator most.
int main(int argc, char** argv) {  // NOLINT(bugprone-exception-escape)
    CLI::App app(kDescription, "zt-unit-sim");
    Arguments arguments;
    defineOptions(app, arguments);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int status = app.exit(e);
        return status == 0 ? kExitOk : kExitUsage;
    }
    std::string error;
    Expected expected;
    if (!buildConfig(arguments, error) || !loadExpected(arguments, expected, error)) {
        std::cerr << "zt-unit-sim: " << error << "\n";
        return kExitUsage;
    }

    std::vector<UnitConfig> configs;
    std::vector<UnitEndpoints> endpoints;
    for (size_t i = 0; i < arguments.units; ++i) {
        configs.push_back(configOf(arguments, i));
        endpoints.push_back(endpointsOf(arguments, i));
    }
    std::vector<std::unique_ptr<SimUnit>> units;
    std::vector<SimUnit*> running;
    for (const UnitConfig& config : configs) {
        units.push_back(std::make_unique<SimUnit>(config));
        running.push_back(units.back().get());
    }
    if (runHost(running, endpoints, arguments.host) == HostResult::StartFailed) return kExitUsage;
    return finish(arguments, units, expected);
}
