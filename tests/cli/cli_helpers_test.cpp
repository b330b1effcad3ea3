// ztupdate's own logic: addresses, status folding, results, exit statuses, progress texts and
// transfer plans. Talking to units is covered end to end in tests/cli_e2e.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cli/completion.h"
#include "cli/exit_status.h"
#include "cli/firmware_version.h"
#include "cli/inspect_command.h"
#include "cli/progress_display.h"
#include "cli/run_outcome.h"
#include "cli/status_command.h"
#include "cli/target_text.h"
#include "cli/unit_runner.h"
#include "cli/unit_target.h"
#include "cli/update_command.h"
#include "cli/usage_advice.h"
#include "content/content_globals.h"
#include "platform/sockets.h"
#include "startup/embedded_content.h"
#include "tests/support/scratch_dir.h"
#include "ui/ui_strings.h"
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
    EXPECT_TRUE(targets[2].unit.isSerial());
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

    ScratchDir scratch;
    const std::filesystem::path device = scratch.file("ttyFAKE0");
    std::ofstream(device).put('x');
    options.unitAddresses.clear();
    // Device paths, resolved as links and dot folders, name serial ports on POSIX only (Windows
    // names them COMn, and Wine cannot make links).
    std::error_code linkError;
    std::filesystem::create_symlink(device, scratch.file("by-id"), linkError);
    if (linkError) return;
    options.serialPorts = {device.string(), scratch.file("by-id").string()};
    EXPECT_FALSE(collectTargets(options, targets, error));
    options.serialPorts = {device.string(), (scratch.path() / "." / "ttyFAKE0").string()};
    EXPECT_FALSE(collectTargets(options, targets, error));
}

// Units files and earlier reports name units as the command line does, with the same refusals.
TEST(CliTargets, UnitsFilesAndReportsJoinTheCommandLine) {
    ScratchDir scratch;
    const std::filesystem::path units = scratch.file("units.txt");
    std::ofstream(units, std::ios::binary) << "# rack A\n\n  192.0.2.20   # amp 1\r\n192.0.2.21\n\t\n/dev/ttyUSB7\n";
    GlobalOptions options;
    options.unitAddresses = {"192.0.2.10"};
    options.unitFiles = {units.string()};
    std::vector<UnitTarget> targets;
    std::string error;
    ASSERT_TRUE(collectTargets(options, targets, error)) << error;
    ASSERT_EQ(targets.size(), 4u);
    EXPECT_EQ(targets[1].label, "192.0.2.20");
    EXPECT_EQ(targets[1].unit, UnitAddress::network(platform::ipv4Address(192, 0, 2, 20)));
    EXPECT_TRUE(targets[3].unit.isSerial());

    options.unitAddresses = {"192.0.2.21"};
    EXPECT_FALSE(collectTargets(options, targets, error));
    EXPECT_NE(error.find("192.0.2.21 (" + units.string() + ":4) names the same unit as 192.0.2.21"), std::string::npos)
        << error;
    std::ofstream(units) << "192.0.2.20\n192.0.2.300\n";
    options.unitAddresses.clear();
    EXPECT_FALSE(collectTargets(options, targets, error));
    EXPECT_NE(error.find(units.string() + ":2: 192.0.2.300: not an IPv4 address"), std::string::npos) << error;
    options.unitFiles = {scratch.file("missing.txt").string()};
    EXPECT_FALSE(collectTargets(options, targets, error));
    EXPECT_NE(error.find("missing.txt: cannot be read"), std::string::npos) << error;

    const std::filesystem::path report = scratch.file("report.json");
    std::ofstream(report) << R"({"units": [{"target": "192.0.2.30", "result": "upgraded"},
                                           {"target": "192.0.2.31", "result": "pin_refused"},
                                           {"target": "/dev/ttyUSB3", "result": "did_not_return"},
                                           {"target": "192.0.2.32", "result": "melted"}]})";
    options.unitFiles.clear();
    options.unitsFrom = report.string();
    ASSERT_TRUE(collectTargets(options, targets, error)) << error;
    EXPECT_EQ(targets.size(), 4u);
    options.failedOnly = true;
    ASSERT_TRUE(collectTargets(options, targets, error)) << error;
    ASSERT_EQ(targets.size(), 3u);
    EXPECT_EQ(targets[0].label, "192.0.2.31");
    EXPECT_TRUE(targets[1].unit.isSerial());
    EXPECT_EQ(targets[2].label, "192.0.2.32") << "a result this program does not know counts as failed";
    std::ofstream(report) << R"({"units": [{"target": "192.0.2.30", "result": "upgraded"}]})";
    EXPECT_FALSE(collectTargets(options, targets, error));
    EXPECT_NE(error.find("no unit to run on"), std::string::npos) << error;
    std::ofstream(report) << "not json";
    EXPECT_FALSE(collectTargets(options, targets, error));
    options.unitsFrom.clear();
    EXPECT_FALSE(collectTargets(options, targets, error));
    EXPECT_NE(error.find("--failed needs --units-from"), std::string::npos) << error;
}

// What a file or a terminal may hold: names are read line by line whatever the line ends, and
// echoed with nothing a terminal would act on, however long or odd they are.
TEST(CliTargets, OddTextIsReadCheckedAndEchoedSafely) {
    std::vector<NamedUnit> names;
    std::string error;
    ASSERT_TRUE(
        readUnitsText("\xEF\xBB\xBF"
                      "192.0.2.1\r192.0.2.2\r\n\n192.0.2.3 #\t\n",
                      "u.txt", names, error))
        << error;
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0].text, "192.0.2.1");
    EXPECT_EQ(names[2].origin, "u.txt:4");
    EXPECT_FALSE(readUnitsText(std::string_view("\xFF\xFE"
                                                "1\0"
                                                "9\0",
                                                6),
                               "u.txt", names, error));
    EXPECT_NE(error.find("u.txt: UTF-16 text"), std::string::npos) << error;
    std::string many;
    for (size_t i = 0; i <= kMostUnits; ++i) many += "/dev/ttyS" + std::to_string(i) + "\n";
    EXPECT_FALSE(readUnitsText(many, "u.txt", names, error));
    EXPECT_NE(error.find("more than 1024 units"), std::string::npos) << error;

    EXPECT_EQ(shownText("a\x1b[2J\tb\x7f\xC2\x85\xE2\x80\xAE\xFF"), "a\\x1b[2J\\tb\\x7f\\u0085\\u202e\\xff");
    EXPECT_EQ(shownText("\xC3\x9C" + std::string(200, 'x')), "\xC3\x9C" + std::string(kShownChars - 1, 'x') + "...");
    // Forms a lenient decoder would turn into other bytes ('/' and NUL) are no UTF-8 text.
    for (const char* overlong : {"/dev/tty\xC0\xAF", "/dev/tty\xC0\x80", "/dev/tty\xED\xA0\x80"}) {
        EXPECT_NE(unusableNameProblem(overlong).find("not UTF-8 text"), std::string::npos) << overlong;
    }
    EXPECT_EQ(unusableNameProblem("/dev/tty\xC3\x9CSB0"), "");
    EXPECT_EQ(networkNameProblem("/dev/ttyUSB0"), "");
    EXPECT_EQ(networkNameProblem("COM3"), "");
    EXPECT_EQ(networkNameProblem("\\\\.\\COM10"), "");
    EXPECT_EQ(networkNameProblem("192.0.2.10/24"), "a prefix length does not belong here");
    EXPECT_EQ(networkNameProblem("amp1.venue.local:4999"), "a port number does not belong here");

    // Any character in a serial name: the device is resolved by its bytes, never through a locale.
    GlobalOptions options;
    std::vector<UnitTarget> targets;
    options.serialPorts = {"/dev/tty\xC3\x9CSB0"};
    ASSERT_TRUE(collectTargets(options, targets, error)) << error;
    EXPECT_EQ(targets[0].label, "/dev/tty\xC3\x9CSB0");

    const std::string_view shapes[] = {R"({"units": [{"target": "192.0.2.5", "result": null}]})",
                                       R"({"units": [{"target": ["192.0.2.5"]}]})",
                                       R"({"units": [7]})",
                                       R"({"units": 7})",
                                       "[]",
                                       "{\"units\": [",
                                       "1e999999"};
    for (std::string_view shape : shapes) {
        EXPECT_FALSE(readReportText(shape, "r.json", true, names, error)) << shape;
        EXPECT_EQ(error.rfind("--units-from r.json: ", 0), 0u) << error;
    }
}

// --jobs and --retry: never more units in flight than allowed, and a retry queued behind
// every unit still waiting for its first turn.
TEST(CliRunner, JobsLimitTheUnitsInFlightAndRetriesGoLast) {
    std::vector<UnitTarget> targets;
    for (int i = 0; i < 5; ++i)
        targets.push_back({"192.0.2." + std::to_string(i + 1), UnitAddress::network(0), "--ip"});
    auto runs = makeRuns(targets);
    std::atomic<int> inFlight{0};
    std::atomic<int> most{0};
    std::vector<size_t> order;
    RunnerHooks hooks;
    hooks.onFinished = [&](size_t unit) { order.push_back(unit); };
    hooks.again = [&](size_t unit) { return unit == 0 && runs[0]->attempts == 1; };
    runUnits(
        runs,
        [&](UnitRun&) -> uint32_t {
            const int now = ++inFlight;
            for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            --inFlight;
            return 0;
        },
        hooks, 2);
    EXPECT_EQ(most.load(), 2);
    ASSERT_EQ(order.size(), 6u);
    EXPECT_EQ(runs[0]->attempts, 2u);
    for (size_t i = 1; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i]->attempts, 1u);
        EXPECT_LE(runs[i]->startedAt, runs[0]->startedAt) << i;
    }
}

// Only the described timing pays a whole second for each lost reply, so only it gets the hint.
TEST(CliOutcome, ManyResendsUnderTheDescribedTimingAreNamedOnce) {
    RunOutcome lossy{"192.0.2.10", RunResult::kUpdated, "", 60, 0, EngineCounters{1000, 60, 0, 0}};
    RunOutcome clean{"192.0.2.11", RunResult::kUpdated, "", 2, 0, EngineCounters{1000, 2, 0, 0}};
    UpdateCommandOptions described;
    described.describedTiming = true;
    testing::internal::CaptureStdout();
    suggestFastResend({lossy, clean}, described);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("62 of 2000 requests were sent again"), std::string::npos);
    for (bool adaptive : {true, false}) {
        testing::internal::CaptureStdout();
        suggestFastResend(adaptive ? std::vector<RunOutcome>{lossy} : std::vector<RunOutcome>{clean},
                          adaptive ? UpdateCommandOptions{} : described);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << adaptive;
    }
}

TEST(CliVersions, OnlyOlderFirmwareIsReplacedUnlessAllowed) {
    EXPECT_EQ(parseVersionText("V1.12"), (FirmwareVersion{1, 12}));
    EXPECT_EQ(parseVersionText(" v2.0 "), (FirmwareVersion{2, 0}));
    EXPECT_EQ(parseVersionText("1.9"), (FirmwareVersion{1, 9}));
    for (const char* bad : {"", "V", "V1", "V1.", "1.x", "V-1.2", "V1.2.3", "V1.2 beta", "V65536.0", "V 1.2"}) {
        EXPECT_FALSE(parseVersionText(bad)) << bad;
    }
    EXPECT_LT(*parseVersionText("1.9"), *parseVersionText("1.12")) << "minor parts compare as numbers";
    const auto carried = parseVersionText("V1.12");
    EXPECT_EQ(versionSkipResult("1.12", carried, {}), RunResult::kAlreadyCurrent);
    EXPECT_EQ(versionSkipResult("1.13", carried, {}), RunResult::kNewerOnUnit);
    EXPECT_EQ(versionSkipResult("2.0", carried, {.allowReinstall = true}), RunResult::kNewerOnUnit);
    EXPECT_EQ(versionSkipResult("1.12", carried, {.allowOlder = true}), RunResult::kAlreadyCurrent);
    EXPECT_EQ(versionSkipResult("1.12", carried, {.allowReinstall = true}), std::nullopt);
    EXPECT_EQ(versionSkipResult("2.0", carried, {.allowOlder = true}), std::nullopt);
    EXPECT_EQ(versionSkipResult("1.9", carried, {}), std::nullopt);
    EXPECT_EQ(versionSkipResult(std::nullopt, carried, {}), std::nullopt) << "no application: it needs one";
    EXPECT_EQ(versionSkipResult("1.12", std::nullopt, {}), std::nullopt);
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

    // Worded for what the answers mean: a healthy unit in its application is no "not found".
    const std::string running = statusText("u", statusFromMessages(disabled));
    EXPECT_NE(running.find("its application (its command port answers, its bootloader does not)"), std::string::npos)
        << running;
    EXPECT_EQ(running.find("not found"), std::string::npos) << running;
    // The command port's "e" flag beside a silent bootloader is a flag, not bootload mode.
    auto flagged = noBootloader;
    flagged.push_back(message(WMU_EXIT_BOOTLOAD_ALLOWED, 1));
    const std::string reported = statusText("u", statusFromMessages(flagged));
    EXPECT_NE(reported.find("Bootload mode:  the command port reports bootload enabled\n"), std::string::npos)
        << reported;
    EXPECT_EQ(reported.find("entered"), std::string::npos) << reported;
    EXPECT_NE(statusText("u", statusFromMessages({message(WMU_BOOTLOADER_FOUND, 0x0301)}))
                  .find("Bootload mode:  entered (its bootloader answers)"),
              std::string::npos);
    const UnitStatus newer = statusFromMessages({message(WMU_BOOTLOADER_FOUND, 0x0303)});
    EXPECT_FALSE(newer.bootloaderSupported);
    EXPECT_NE(statusText("u", newer).find("bootloader 3.3 (unsupported"), std::string::npos);
    EXPECT_TRUE(statusFromMessages({message(WMU_BOOTLOADER_FOUND, 0x0302)}).bootloaderSupported);
}

TEST(CliOutcome, TerminalMessagesMapToResultsAndStatuses) {
    loadEmbeddedContent();
    EXPECT_EQ(outcomeOf("u", WMU_UPDATE_DONE, 1).message, "The firmware updated successfully.");
    EXPECT_EQ(outcomeOf("u", WMU_UPDATE_FAILED, 1).exitStatus, kExitFailed);
    EXPECT_STREQ(jsonName(outcomeOf("u", WMU_WRONG_RESPONSE, 1).result), "wrong_response");
    EXPECT_EQ(outcomeOf("u", WMU_NO_RESPONSE, 1).exitStatus, kExitNoResponse);
    EXPECT_EQ(outcomeOf("u", WMU_BOOTLOAD_EXITED, 1).message, "Bootload mode exited.");

    EXPECT_EQ(worseStatus(kExitFailed, kExitNoResponse), kExitNoResponse);
    EXPECT_EQ(worseStatus(kExitNoResponse, kExitUsage), kExitNoResponse);
    EXPECT_EQ(worseStatus(kExitSuccess, kExitFailed), kExitFailed);
    EXPECT_EQ(overallStatus({outcomeOf("a", WMU_UPDATE_DONE, 1), outcomeOf("b", WMU_UPDATE_FAILED, 1)}), kExitFailed);
    EXPECT_EQ(overallStatus({}), kExitSuccess);

    // Reports are read back by --units-from ... --failed: each result's name must name it alone.
    for (const RunResultRow& row : kRunResults) {
        EXPECT_EQ(runResultNamed(row.jsonName), row.result) << row.jsonName;
        EXPECT_FALSE(row.success && row.mayRetry) << row.jsonName;
    }
    EXPECT_EQ(runResultNamed("melted"), RunResult::kFailed);
    EXPECT_EQ(runResultNamed(""), RunResult::kFailed);

    // The engine's counts are null in the JSON result when the run had no engine.
    RunOutcome counted = outcomeOf("u", WMU_UPDATE_DONE, 1);
    EXPECT_TRUE(outcomesDocument({counted})["units"][0]["resends"].is_null());
    counted.counts = EngineCounters{812, 3, 1, 2};
    const nlohmann::json unit = outcomesDocument({counted})["units"][0];
    EXPECT_EQ(unit["requests"], 812);
    EXPECT_EQ(unit["resends"], 3);
    EXPECT_EQ(unit["timeouts"], 1);
    EXPECT_EQ(unit["stale_frames"], 2);
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
    display.onFinished(1, RunResult::kFailed);
    EXPECT_NE(display.barLine(1, 0, 100).find("failed"), std::string::npos);
}

platform::WindowMessage stageMessage(RunStage stage, const wchar_t* name) {
    return {WMU_STATUS_TEXT, static_cast<uintptr_t>(stage), 0, name};
}

// 100 program requests then 50 chunks: after 20 requests at 50 ms each, the time left counts
// requests (80 + 50 at 50 ms over UDP), not records or bytes.
TEST(CliProgress, TimeLeftCountsRequestsAtTheirMeasuredTime) {
    loadEmbeddedContent();
    ProgressDisplay display(ProgressDisplay::Mode::kSilent, {"udp", "serial"});
    for (size_t unit = 0; unit < 2; ++unit) {
        UnitPlan plan;
        plan.programRequests = 100;
        plan.flashChunks = 50;
        plan.programRequestBytes = 400;
        plan.chunkRequestBytes = 100;
        plan.serial = unit == 1;
        display.setPlan(unit, plan);
        display.onMessageAt(unit, message(WMU_PROGRESS_RANGE, 0, 800 + 3200), 0);
        display.onMessageAt(unit, stageMessage(RunStage::kApplication, L"Server Application"), 0);
        EXPECT_LT(display.secondsLeft(unit, 0), 0) << "nothing measured yet";
        // The erase takes 3 s before the first request and does not count.
        for (uint32_t i = 1; i <= 21; ++i) display.onMessageAt(unit, message(WMU_PROGRESS_POS, i * 8), 3000 + i * 50);
    }
    EXPECT_NEAR(display.secondsLeft(0, 4100), (79 + 50) * 0.05, 0.01);
    // On a serial line a chunk request of 100 bytes costs a quarter of a 400-byte record request.
    EXPECT_NEAR(display.secondsLeft(1, 4100), 79 * 0.05 + 50 * 0.05 / 4, 0.01);
    EXPECT_EQ(display.percent(0), 4);
}

TEST(CliProgress, FramesFitTheTerminalAndBarsKeepTheirWidth) {
    std::vector<std::string> labels;
    for (int i = 0; i < 40; ++i) labels.push_back("192.0.2." + std::to_string(i + 1));
    ProgressDisplay display(ProgressDisplay::Mode::kSilent, labels);
    for (size_t i = 0; i < 40; ++i) display.onMessageAt(i, message(WMU_PROGRESS_RANGE, 0, 100), 0);
    for (size_t i = 0; i < 10; ++i) display.onFinished(i, RunResult::kUpdated);
    const std::vector<std::string> frame = display.frame(0, 100, 24);
    ASSERT_EQ(frame.size(), 23u);
    EXPECT_NE(frame[0].find("192.0.2.11 "), std::string::npos) << "running units come first";
    EXPECT_NE(frame.back().find("18 more not shown; all 40 units: 30 running, 10 updated, 0 not"), std::string::npos)
        << frame.back();
    EXPECT_EQ(display.frame(0, 100, 60).size(), 41u) << "every unit and the summary";
    const auto barOf = [](const std::string& line) {
        return line.substr(line.find('['), line.find(']') - line.find('['));
    };
    EXPECT_EQ(barOf(display.barLine(0, 0, 100)).size(), barOf(display.barLine(20, 0, 100)).size());
    for (const std::string& line : frame) EXPECT_LT(line.size(), 100u);
}

// 8 units, 4 at once, at 80 columns: stage names fit, a finished row shows only its result, a
// waiting row says so, and the whole run's time left counts the waiting units at the measured
// time per unit.
TEST(CliProgress, FleetRowsAndTheTimeTheRunHasLeft) {
    std::vector<std::string> labels;
    for (int i = 0; i < 8; ++i) labels.push_back("127.0.0." + std::to_string(i + 2));
    ProgressDisplay display(ProgressDisplay::Mode::kSilent, labels, stdout, 4);
    for (size_t i = 0; i < 4; ++i) {
        display.onMessageAt(i, stageMessage(RunStage::kOther, L"Asking its state"), i == 0 ? 0 : 5000);
    }
    display.onMessageAt(0, message(WMU_PROGRESS_RANGE, 0, 100), 1000);
    display.onMessageAt(0, message(WMU_PROGRESS_POS, 100), 8000);
    display.onMessageAt(0, stageMessage(RunStage::kOther, L"Waiting for the application"), 9000);
    display.onFinishedAt(0, RunResult::kUpgraded, 10000);
    display.onMessageAt(1, stageMessage(RunStage::kOther, L"Reading the version back"), 9000);
    const std::vector<std::string> frame = display.frame(10000, 80, 24);
    ASSERT_EQ(frame.size(), 9u);
    EXPECT_EQ(frame[0].find("Awaiting"), std::string::npos) << "a finished row drops its stage: " << frame[0];
    EXPECT_NE(frame[0].find("100%  upgraded"), std::string::npos) << frame[0];
    EXPECT_NE(frame[1].find("Reading version back"), std::string::npos) << frame[1];
    EXPECT_NE(frame[5].find("0%  waiting"), std::string::npos) << frame[5];
    EXPECT_EQ(frame[5].find("--:--"), std::string::npos) << frame[5];
    // One unit took 10 s; three running ones have 5 s to go each, four waiting ones 10 s each,
    // four at a time: 55/4 s.
    EXPECT_NE(frame.back().find("all 8 units: 3 running, 1 updated, 0 not, 4 waiting; about 0:14 left"),
              std::string::npos)
        << frame.back();
    for (const std::string& line : frame) EXPECT_LT(line.size(), 80u) << line;
    display.onRetry(0);
    display.onMessageAt(0, stageMessage(RunStage::kOther, L"Waiting for the application"), 10000);
    EXPECT_NE(display.barLine(0, 10000, 80).find("Awaiting application "), std::string::npos);
}

TEST(CliTyping, YesAndNearestCommand) {
    for (const char* yes : {"y", "Y", "yes", "Yes", "YES"}) EXPECT_TRUE(isYes(yes)) << yes;
    for (const char* no : {"", "n", "no", "yes please", " y"}) EXPECT_FALSE(isYes(no)) << no;
    CLI::App app;
    app.add_subcommand("status");
    app.add_subcommand("update");
    app.add_subcommand("enter-bootload");
    EXPECT_EQ(nearestCommand(app, "ststus"), "status");
    EXPECT_EQ(nearestCommand(app, "updte"), "update");
    EXPECT_EQ(nearestCommand(app, "enter-bootlaod"), "enter-bootload");
    EXPECT_EQ(nearestCommand(app, "frobnicate"), "");
}

TEST(CliInspect, PlanCountsRequestsAsTheUpdatePacksThem) {
    CHexManager image;
    for (int i = 0; i < 17; ++i) image.parseLine(L":0400000001020304F2");
    image.parseLine(L":00000001FF");
    // Framing bytes in the flash image are stuffed on the line, so they count twice.
    const std::vector<uint8_t> plainBytes(130, 0x55), framingBytes(130, 0x10);
    CBinManager plain(kFlashImageOrigin), framing(kFlashImageOrigin);
    plain.loadFromBytes(plainBytes.data(), plainBytes.size());
    framing.loadFromBytes(framingBytes.data(), framingBytes.size());
    const TransferPlan plan = planTransfer(image, &plain);
    EXPECT_EQ(plan.programRequests, 3u);
    EXPECT_EQ(plan.flashChunks, 3u);
    EXPECT_EQ(plan.exchanges, 7u + 3u + 3u);
    EXPECT_GT(serialSeconds(plan), udpSeconds(plan));
    EXPECT_EQ(planTransfer(image, &framing).serialBytes, plan.serialBytes + 130);
    EXPECT_EQ(planTransfer(image, nullptr).flashChunks, 0u);
}
