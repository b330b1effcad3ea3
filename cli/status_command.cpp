// The device request worker's sequence, one thread and message queue per unit.
#include "cli/status_command.h"

#include <cstdio>

#include "bootloader/request_worker.h"
#include "cli/exit_status.h"
#include "cli/json_output.h"
#include "cli/unit_runner.h"
#include "commandport/command_port.h"
#include "ui/worker_messages.h"

namespace {

nlohmann::json orNull(const std::optional<std::string>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

std::string versionText(uint32_t major, uint32_t minor) {
    return std::to_string(major) + "." + std::to_string(minor);
}

void printStatus(const std::string& target, const UnitStatus& status) {
    std::printf("%s\n", target.c_str());
    std::printf("  Bootloader:     %s\n", status.bootloader.value_or("not found").c_str());
    std::printf("  Application:    %s\n", status.application.value_or("not found").c_str());
    std::printf("  Bootload mode:  %s\n", status.bootloadMode.value_or("unknown (no answer)").c_str());
}

}  // namespace

UnitStatus statusFromMessages(const std::vector<platform::WindowMessage>& messages) {
    UnitStatus status;
    bool enterAllowed = false;
    bool exitAllowed = false;
    for (const platform::WindowMessage& m : messages) {
        switch (m.id) {
            case WMU_BOOTLOADER_FOUND:
                status.bootloader = versionText(static_cast<uint32_t>(m.wParam >> 8 & 0xFF),
                                                static_cast<uint32_t>(m.wParam & 0xFF));
                break;
            case WMU_APP_VERSION: {
                const uint32_t value = static_cast<uint32_t>(m.lParam);
                if (value != 0 && value != APP_VERSION_NONE) status.application = versionText(value >> 16, value & 0xFFFF);
                break;
            }
            case WMU_ENTER_BOOTLOAD_ALLOWED: enterAllowed = m.wParam != 0; break;
            case WMU_EXIT_BOOTLOAD_ALLOWED: exitAllowed = m.wParam != 0; break;
            default: break;
        }
    }
    if (exitAllowed) {
        status.bootloadMode = "enabled";
    } else if (enterAllowed) {
        status.bootloadMode = "disabled";
    }
    return status;
}

int runStatusCommand(const GlobalOptions& options) {
    std::vector<UnitTarget> targets;
    std::string error;
    if (!collectTargets(options, targets, error)) {
        std::fprintf(stderr, "ztupdate: %s\n", error.c_str());
        return kExitUsage;
    }
    parserPort = options.parserPort;
    auto runs = makeRuns(targets);
    std::vector<std::vector<platform::WindowMessage>> answers(runs.size());
    runUnitsInParallel(
        runs,
        [](UnitRun& run) -> uint32_t {
            DeviceRequest request{&run.window, bootloaderTransport(run.target)};
            answerDeviceRequest(request);
            return WMU_QUERY_DONE;
        },
        [&](size_t unit, const platform::WindowMessage& message) { answers[unit].push_back(message); }, nullptr);

    int exitStatus = kExitSuccess;
    nlohmann::json units = nlohmann::json::array();
    for (size_t i = 0; i < runs.size(); ++i) {
        const UnitStatus status = statusFromMessages(answers[i]);
        if (!status.bootloader && !status.bootloadMode) exitStatus = worseStatus(exitStatus, kExitNoResponse);
        units.push_back({{"target", runs[i]->target.label},
                         {"bootloader", orNull(status.bootloader)},
                         {"application", orNull(status.application)},
                         {"bootload_mode", orNull(status.bootloadMode)}});
        if (!options.json) printStatus(runs[i]->target.label, status);
    }
    if (options.json) printJsonDocument({{"units", units}});
    return exitStatus;
}
