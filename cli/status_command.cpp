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

std::string versionText(uint32_t major, uint32_t minor) { return std::to_string(major) + "." + std::to_string(minor); }

constexpr uint32_t kFirstSupportedBootloader = 0x0300;
constexpr uint32_t kLastSupportedBootloader = 0x0302;

std::string runningLine(const UnitStatus& status) {
    if (status.bootloader) {
        return "bootloader " + *status.bootloader +
               (status.bootloaderSupported ? "" : " (unsupported: this updater cannot update it)");
    }
    if (status.bootloadMode) return "its application (its command port answers, its bootloader does not)";
    return "no answer from the bootloader or the command port";
}

// An answering bootloader is bootload mode itself; without it, only the command port's flag is
// known, and that flag is what the unit says, not what it runs.
std::string bootloadModeLine(const UnitStatus& status) {
    if (status.bootloader) return "entered (its bootloader answers)";
    if (status.bootloadMode == "enabled") return "the command port reports bootload enabled";
    if (status.bootloadMode == "disabled") {
        return "the command port reports bootload disabled (enter-bootload enters bootload mode with the "
               "Installer PIN)";
    }
    return "unknown (the command port did not answer)";
}

nlohmann::json reportedByJson(const UnitStatus& status) {
    if (status.bootloader) return "bootloader";
    return status.bootloadMode ? nlohmann::json("command_port") : nlohmann::json(nullptr);
}

}  // namespace

std::string statusText(const std::string& target, const UnitStatus& status) {
    std::string text = target + "\n";
    text += "  Running:        " + runningLine(status) + "\n";
    if (status.bootloader || status.application) {
        text += "  Application:    " + status.application.value_or("none reported") + "\n";
    }
    if (status.bootloadMode || status.bootloader) text += "  Bootload mode:  " + bootloadModeLine(status) + "\n";
    return text;
}

UnitStatus statusFromMessages(const std::vector<platform::WindowMessage>& messages) {
    UnitStatus status;
    bool enterAllowed = false;
    bool exitAllowed = false;
    for (const platform::WindowMessage& m : messages) {
        switch (m.id) {
            case WMU_BOOTLOADER_FOUND: {
                const uint32_t version = static_cast<uint32_t>(m.wParam & 0xFFFF);
                status.bootloader = versionText(version >> 8, version & 0xFF);
                status.bootloaderSupported =
                    version >= kFirstSupportedBootloader && version <= kLastSupportedBootloader;
                break;
            }
            case WMU_APP_VERSION: {
                const uint32_t value = static_cast<uint32_t>(m.lParam);
                if (value != 0 && value != APP_VERSION_NONE)
                    status.application = versionText(value >> 16, value & 0xFFFF);
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
    if (!prepareTargets(options, targets, error)) return reportUsageError(error);
    auto runs = makeRuns(targets);
    std::vector<std::vector<platform::WindowMessage>> answers(runs.size());
    runUnitsInParallel(
        runs,
        [](UnitRun& run) -> uint32_t {
            DeviceRequest request = deviceRequestFor(&run.window, run.target.unit);
            answerDeviceRequest(request);
            return WMU_QUERY_DONE;
        },
        [&](size_t unit, const platform::WindowMessage& message) { answers[unit].push_back(message); }, nullptr,
        options.jobs);

    int exitStatus = kExitSuccess;
    nlohmann::json units = nlohmann::json::array();
    for (size_t i = 0; i < runs.size(); ++i) {
        const UnitStatus status = statusFromMessages(answers[i]);
        if (!status.bootloader && !status.bootloadMode) exitStatus = worseStatus(exitStatus, kExitNoResponse);
        units.push_back({{"target", runs[i]->target.label},
                         {"bootloader", orNull(status.bootloader)},
                         {"application", orNull(status.application)},
                         {"bootload_mode", orNull(status.bootloadMode)},
                         {"bootload_mode_from", reportedByJson(status)}});
        if (!options.json) std::fputs(statusText(runs[i]->target.label, status).c_str(), stdout);
    }
    if (options.json) printJsonDocument({{"units", units}});
    return exitStatus;
}

CliCommand addStatusCommand(CLI::App& app) {
    return {addSubcommand(app, "status", kStatusHelp), CommandNeeds::kNetwork, runStatusCommand};
}
