// Runs one discovery thread for the given time and keeps the first report of each unit, as the
// Discover dialog does.
#include "cli/discover_command.h"

#include <CLI/CLI.hpp>

#include <memory>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "cli/json_output.h"
#include "discovery/discovery_threads.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "platform/text.h"
#include "transport/com_port_table.h"
#include "transport/unit_address.h"
#include "ui/worker_messages.h"

namespace {

constexpr uint32_t kReceiveSliceMs = 100;

nlohmann::json orNull(const std::string& text) { return text.empty() ? nlohmann::json() : nlohmann::json(text); }

nlohmann::json announced(const DiscoveryAnnouncement& said) {
    return {{"host_name", orNull(said.hostName)}, {"mac", orNull(said.mac)}, {"model", orNull(said.model)}};
}

nlohmann::json unitOf(const platform::WindowMessage& m) {
    if (m.id == WMU_SERIAL_UNIT_FOUND) {
        const UnitAddress unit = UnitAddress::serialPort(comPortAt(static_cast<size_t>(m.lParam)));
        return {{"target", platform::toUtf8(unit.displayText())},
                {"link", "serial"},
                {"bootload", m.wParam == 1},
                {"other_subnet", false},
                {"link_local", false},
                {"host_name", nullptr},
                {"mac", nullptr},
                {"model", nullptr}};
    }
    const UnitAddress unit = UnitAddress::network(static_cast<uint32_t>(m.lParam));
    nlohmann::json found = {{"target", platform::toUtf8(unit.displayText())},
                            {"link", "network"},
                            {"bootload", (m.wParam & UNIT_FLAG_BOOTLOAD) != 0},
                            {"other_subnet", (m.wParam & UNIT_FLAG_OTHER_SUBNET) != 0},
                            {"link_local", (m.wParam & UNIT_FLAG_LINK_LOCAL) != 0}};
    found.update(announced(announcementFrom(static_cast<uint32_t>(m.lParam))));
    return found;
}

std::string announcedText(const nlohmann::json& unit) {
    std::string text;
    for (const char* key : {"host_name", "mac", "model"}) {
        if (unit[key].is_string()) text += "  " + unit[key].get<std::string>();
    }
    return text;
}

void printUnit(const nlohmann::json& unit) {
    std::printf("%-18s %s%s%s%s\n", unit["target"].get<std::string>().c_str(),
                unit["bootload"].get<bool>() ? "bootload mode" : "application",
                unit["other_subnet"].get<bool>() ? ", on no local subnet" : "",
                unit["link_local"].get<bool>() ? ", link-local address" : "", announcedText(unit).c_str());
    std::fflush(stdout);
}

}  // namespace

int runDiscoverCommand(const GlobalOptions& options, const DiscoverCommandOptions& discover) {
    if (discover.serial) enumerateComPorts();
    platform::MessageQueue window;
    discoveryStop = false;
    std::thread finder(discover.serial ? com_discover_thread : ip_discover_thread, &window);

    nlohmann::json units = nlohmann::json::array();
    std::vector<intptr_t> seen;
    const uint32_t start = platform::tickCount();
    while (platform::ticksBetween(start, platform::tickCount()) < discover.seconds * 1000) {
        platform::WindowMessage m;
        if (!window.receive(m, kReceiveSliceMs)) continue;
        window.handled();
        if (m.id != WMU_NETWORK_UNIT_FOUND && m.id != WMU_SERIAL_UNIT_FOUND) continue;
        if (std::find(seen.begin(), seen.end(), m.lParam) != seen.end()) continue;
        seen.push_back(m.lParam);
        units.push_back(unitOf(m));
        if (!options.json) printUnit(units.back());
    }
    discoveryStop = true;
    finder.join();
    if (options.json) {
        printJsonDocument({{"units", units}});
    } else if (units.empty() && !options.quiet) {
        std::printf("No unit answered within %u s.\n", discover.seconds);
    }
    return 0;
}

CliCommand addDiscoverCommand(CLI::App& app) {
    auto discoverOptions = std::make_shared<DiscoverCommandOptions>();
    CLI::App* discover = addSubcommand(app, "discover", kDiscoverHelp);
    discover->add_flag("--serial", discoverOptions->serial, "probe the serial ports instead of the networks");
    discover->add_option("--seconds", discoverOptions->seconds, "how long to look (default 5)")
        ->check(CLI::Range(1, 3600))
        ->type_name("N");
    return {discover, CommandNeeds::kNetwork,
            [discoverOptions](const GlobalOptions& options) { return runDiscoverCommand(options, *discoverOptions); }};
}
