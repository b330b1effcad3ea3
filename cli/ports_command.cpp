#include "cli/ports_command.h"

#include <cstdio>

#include "cli/json_output.h"
#include "platform/serial_names.h"
#include "platform/text.h"
#include "transport/com_port_table.h"

int runPortsCommand(const GlobalOptions& options) {
    enumerateComPorts();
    nlohmann::json ports = nlohmann::json::array();
    for (const std::wstring& name : comPortSnapshot()) {
        const std::string shown = platform::toUtf8(platform::serialDisplayName(name));
        ports.push_back(shown);
        if (!options.json) std::printf("%s\n", shown.c_str());
    }
    if (options.json) {
        printJsonDocument({{"ports", ports}});
    } else if (ports.empty() && !options.quiet) {
        std::printf("No serial port can be opened.\n");
    }
    return 0;
}

CliCommand addPortsCommand(CLI::App& app) {
    return {addSubcommand(app, "ports", kPortsHelp), CommandNeeds::kContent, runPortsCommand};
}
