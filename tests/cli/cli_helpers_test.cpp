// ztupdate's own logic: addresses, status folding, results, exit statuses, progress texts and
// transfer plans. Talking to units is covered end to end in tests/cli_e2e.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "cli/exit_status.h"
#include "cli/inspect_command.h"
#include "cli/progress_display.h"
#include "cli/run_outcome.h"
#include "cli/status_command.h"
#include "cli/unit_target.h"
#include "content/content_globals.h"
#include "platform/sockets.h"
#include "ui/worker_messages.h"

namespace {

platform::WindowMessage message(uint32_t id, uintptr_t wParam = 0, intptr_t lParam = 0) {
    return {id, wParam, lParam, {}};
}

}  // namespace

TEST(CliTargets, DottedQuadsOnly) {
    uint32_t address = 0;
    EXPECT_TRUE(parseIpv4("192.0.2.10", address));
    EXPECT_EQ(address, platform::ipv4Address(192, 0, 2, 10));
    for (const char* bad : {"192.0.2", "192.0.2.256", "192.0.2.1.", "192.0.2.1 ", "a.b.c.d", "1920.0.2.1", ""}) {
        EXPECT_FALSE(parseIpv4(bad, address)) << bad;
    }
}

TEST(CliTargets, RefusesWhatTheWindowRefusesAndKeepsOrder) {
    GlobalOptions options;
    std::vector<UnitTarget> targets;
    std::string error;
    EXPECT_FALSE(collectTargets(options, targets, error));
    options.unitAddresses = {"127.0.0.1"};
    EXPECT_FALSE(collectTargets(options, targets, error));
    options.unitAddresses = {"192.0.2.7", "198.51.100.3"};
    options.serialPorts = {"/dev/ttyUSB0"};
    ASSERT_TRUE(collectTargets(options, targets, error));
    ASSERT_EQ(targets.size(), 3u);
    EXPECT_EQ(targets[1].label, "198.51.100.3");
    EXPECT_TRUE(targets[2].serial);
    for (const char* noUnit : {"0.0.0.0", "255.255.255.255"}) {
        options.unitAddresses = {noUnit};
        EXPECT_FALSE(collectTargets(options, targets, error)) << noUnit;
    }
}

// One unit named twice would get two interleaved updates and a wrong memory.
TEST(CliTargets, TheSameUnitTwiceIsRefused) {
    GlobalOptions options;
    std::vector<UnitTarget> targets;
    std::string error;
    options.unitAddresses = {"192.0.2.7", "192.0.2.07"};
    EXPECT_FALSE(collectTargets(options, targets, error));
    EXPECT_NE(error.find("192.0.2.07 names the same unit as 192.0.2.7"), std::string::npos) << error;
    options.unitAddresses = {"192.0.2.7", "192.0.2.8"};
    EXPECT_TRUE(collectTargets(options, targets, error));

    // A folder of this run's own: ctest runs test programs side by side.
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("zt-cli-targets-" + std::to_string(std::random_device{}()));
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    const std::filesystem::path device = folder / "ttyFAKE0";
    std::ofstream(device).put('x');
    std::filesystem::create_symlink(device, folder / "by-id");
    options.unitAddresses.clear();
    options.serialPorts = {device.string(), (folder / "by-id").string()};
    EXPECT_FALSE(collectTargets(options, targets, error));
    options.serialPorts = {device.string(), (folder / "." / "ttyFAKE0").string()};
    EXPECT_FALSE(collectTargets(options, targets, error));
    std::filesystem::remove_all(folder);
}

TEST(CliStatus, AnswerSequencesBecomeFields) {
    // Bootloader 3.1 answers, application 2.5 (major 2 high, minor 5 low).
    UnitStatus s = statusFromMessages({message(WMU_EXIT_BOOTLOAD_ALLOWED, 0), message(WMU_BOOTLOADER_FOUND, 0x0301),
                                       message(WMU_ENTER_BOOTLOAD_ALLOWED, 0), message(WMU_EXIT_BOOTLOAD_ALLOWED, 1),
                                       message(WMU_APP_VERSION, 0, 0x00020005), message(WMU_QUERY_DONE)});
    EXPECT_EQ(s.bootloader, "3.1");
    EXPECT_EQ(s.application, "2.5");
    EXPECT_EQ(s.bootloadMode, "enabled");

    const std::vector<platform::WindowMessage> noBootloader = {
        message(WMU_EXIT_BOOTLOAD_ALLOWED, 0), message(WMU_NO_BOOTLOADER),
        message(WMU_APP_VERSION, 0, static_cast<intptr_t>(APP_VERSION_NONE)), message(WMU_ENTER_BOOTLOAD_ALLOWED, 0),
        message(WMU_EXIT_BOOTLOAD_ALLOWED, 0)};
    s = statusFromMessages(noBootloader);
    EXPECT_FALSE(s.bootloader || s.application || s.bootloadMode);

    auto disabled = noBootloader;
    disabled.push_back(message(WMU_ENTER_BOOTLOAD_ALLOWED, 1));
    disabled.push_back(message(WMU_EXIT_BOOTLOAD_ALLOWED, 0));
    EXPECT_EQ(statusFromMessages(disabled).bootloadMode, "disabled");
    EXPECT_FALSE(statusFromMessages({message(WMU_APP_VERSION, 0, 0)}).application);
}

TEST(CliOutcome, TerminalMessagesMapToResultsAndStatuses) {
    loadEmbeddedContent();
    EXPECT_EQ(outcomeOf("u", WMU_UPDATE_DONE, 1).message, "The firmware updated successfully.");
    EXPECT_EQ(outcomeOf("u", WMU_UPDATE_FAILED, 1).exitStatus, kExitFailed);
    EXPECT_EQ(outcomeOf("u", WMU_WRONG_RESPONSE, 1).result, "wrong_response");
    EXPECT_EQ(outcomeOf("u", WMU_NO_RESPONSE, 1).exitStatus, kExitNoResponse);
    EXPECT_EQ(outcomeOf("u", WMU_BOOTLOAD_EXITED, 1).message, "Bootload mode exited.");

    EXPECT_EQ(worseStatus(kExitFailed, kExitNoResponse), kExitNoResponse);
    EXPECT_EQ(worseStatus(kExitNoResponse, kExitUsage), kExitNoResponse);
    EXPECT_EQ(worseStatus(kExitSuccess, kExitFailed), kExitFailed);
    EXPECT_EQ(overallStatus({outcomeOf("a", WMU_UPDATE_DONE, 1), outcomeOf("b", WMU_UPDATE_FAILED, 1)}), kExitFailed);
    EXPECT_EQ(overallStatus({}), kExitSuccess);
}

TEST(CliProgress, BarsDurationsAndLines) {
    EXPECT_EQ(progressBar(0.5, 12), "[#####.....]");
    EXPECT_EQ(progressBar(1.5, 6), "[####]");
    EXPECT_EQ(progressBar(-1, 4), "[..]");
    EXPECT_EQ(formatDuration(65), "1:05");
    EXPECT_EQ(formatDuration(3723), "1:02:03");
    EXPECT_EQ(formatDuration(-1), "--:--");

    ProgressDisplay display(ProgressDisplay::Mode::kSilent, {"192.0.2.1", "unit-b"});
    display.onMessage(0, message(WMU_PROGRESS_RANGE, 0, 200));
    display.onMessage(0, message(WMU_PROGRESS_POS, 50));
    const std::string line = display.barLine(0, 0, 100);
    EXPECT_LT(line.size(), 100u);
    EXPECT_NE(line.find(" 25%"), std::string::npos);
    EXPECT_NE(line.find("left"), std::string::npos);
    display.onFinished(1, "failed");
    EXPECT_NE(display.barLine(1, 0, 100).find("failed"), std::string::npos);
}

TEST(CliInspect, PlanCountsRequestsAsTheUpdatePacksThem) {
    CHexManager image;
    for (int i = 0; i < 17; ++i) image.parseLine(L":0400000001020304F2");
    image.parseLine(L":00000001FF");
    const TransferPlan plan = planTransfer(image, 130);
    EXPECT_EQ(plan.programRequests, 3u);
    EXPECT_EQ(plan.flashChunks, 3u);
    EXPECT_EQ(plan.exchanges, 7u + 3u + 3u);
    EXPECT_GT(serialSeconds(plan), udpSeconds(plan));
}
