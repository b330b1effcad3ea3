// Whole updates and exit runs against zt-unit-sim over UDP on loopback and a pseudo-terminal.
#include <gtest/gtest.h>

#include "bootloader/update_sequence.h"
#include "content/content_globals.h"
#include "startup/embedded_content.h"
#include "tests/integration/sim_fixture.h"
#include "tests/support/message_pump.h"
#include "ui/worker_messages.h"

namespace {

struct Variant {
    Link link;
    bool legacy;
};

std::string variantName(const ::testing::TestParamInfo<Variant>& info) {
    return std::string(info.param.link == Link::kUdp ? "Udp" : "Serial") + (info.param.legacy ? "Plain" : "Sequenced");
}

std::vector<std::string> simArguments(Link link, const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"--bind",         "127.0.0.1", "--udp-port",   "0",
                                     "--no-discovery", "--no-tcp",  "--start-mode", "bootload"};
    if (link == Link::kUdp) args.push_back("--no-serial");
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

class FullUpdate : public ::testing::TestWithParam<Variant> {
protected:
    static void SetUpTestSuite() { loadEmbeddedContent(); }
};

}  // namespace

TEST_P(FullUpdate, MemoriesEqualTheImagesByteForByte) {
    const Variant variant = GetParam();
    ScratchDir scratch;
    std::vector<std::string> extra = {"--check-hex",
                                      ZT_SAMPLE_HEX,
                                      "--check-flash",
                                      ZT_SAMPLE_FLASH,
                                      "--exit-after-close",
                                      "--report",
                                      scratch.file("report.json").string()};
    if (variant.legacy) extra.push_back("--legacy-bootloader");
    SimProcess sim;
    ASSERT_TRUE(sim.start(simArguments(variant.link, extra))) << sim.output();

    UpdateOutcome outcome =
        runUpdateAgainst(bootloaderTransport(sim, variant.link), applicationImage, flashImage, true, true, false);
    EXPECT_EQ(outcome.terminal, WMU_UPDATE_DONE);
    EXPECT_EQ(outcome.range, 31710u + 546221u);
    EXPECT_EQ(outcome.lastPosition, outcome.range);
    ASSERT_EQ(sim.waitExit(20000), 0) << "simulator's memories differ from the images";

    nlohmann::json report = readReport(scratch.file("report.json"));
    ASSERT_FALSE(report.is_discarded());
    const nlohmann::json& unit =
        report.is_array() ? report[0] : (report.contains("units") ? report["units"][0] : report);
    EXPECT_EQ(unit["commands"]["record_program"], 3964);
    EXPECT_EQ(unit["commands"]["chunk_program"], 8535);
    EXPECT_EQ(unit["application_version"]["major"], 1);
    EXPECT_EQ(unit["application_version"]["minor"], 12);
    EXPECT_TRUE(unit["close_received"].get<bool>());
}

INSTANTIATE_TEST_SUITE_P(Links, FullUpdate,
                         ::testing::Values(Variant{Link::kUdp, false}, Variant{Link::kUdp, true},
                                           Variant{Link::kSerial, false}, Variant{Link::kSerial, true}),
                         variantName);

namespace {

class SmallUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        writeSampleSubset(scratch.file("app.hex"), 240, scratch.file("web.bin"), 64 * 40 + 13);
        ASSERT_EQ(application.loadFromFile(scratch.file("app.hex")), 1);
        ASSERT_EQ(flash.loadFromFile(scratch.file("web.bin")), 1);
    }
    bool startSim(const std::vector<std::string>& extra, Link link = Link::kUdp) {
        std::vector<std::string> all = {"--check-hex", scratch.file("app.hex").string(), "--check-flash",
                                        scratch.file("web.bin").string(), "--exit-after-close"};
        all.insert(all.end(), extra.begin(), extra.end());
        return sim.start(simArguments(link, all));
    }
    UpdateOutcome update(bool firmware = true, bool ui = true, bool defaults = false, Link link = Link::kUdp) {
        return runUpdateAgainst(bootloaderTransport(sim, link), application, flash, firmware, ui, defaults);
    }

    ScratchDir scratch;
    CHexManager application;
    CBinManager flash{0x40000};
    SimProcess sim;
};

}  // namespace

TEST_F(SmallUpdate, SurvivesFivePercentLossEachWay) {
    ASSERT_TRUE(startSim({"--drop-in", "5", "--drop-out", "5", "--seed", "7"})) << sim.output();
    EXPECT_EQ(update().terminal, WMU_UPDATE_DONE);
    // Stopped, not awaited: the closing command has no reply, so its loss goes unnoticed.
    EXPECT_EQ(sim.stop(), 0);
}

// Numbered replies make copies harmless; a plain bootloader's copies leave every later reply in
// doubt, and the run fails rather than claim a memory it cannot vouch for.
TEST_F(SmallUpdate, SurvivesDuplicatedAndCorruptedRepliesOnlyWhenTheyAreNumbered) {
    ASSERT_TRUE(startSim({"--reply-twice", "--corrupt", "5", "--seed", "3"})) << sim.output();
    EXPECT_EQ(update().terminal, WMU_UPDATE_DONE);
    EXPECT_EQ(sim.waitExit(20000), 0);

    SimProcess plain;
    ASSERT_TRUE(plain.start(
        simArguments(Link::kUdp, {"--reply-twice", "--corrupt", "5", "--seed", "3", "--legacy-bootloader"})))
        << plain.output();
    EXPECT_EQ(runUpdateAgainst(bootloaderTransport(plain, Link::kUdp), application, flash, true, true, false).terminal,
              WMU_UPDATE_FAILED);
}

TEST_F(SmallUpdate, SilentBootloaderIsNoResponse) {
    ASSERT_TRUE(startSim({"--silent-bootloader"})) << sim.output();
    UpdateOutcome outcome = update();
    EXPECT_EQ(outcome.terminal, WMU_NO_RESPONSE);
    EXPECT_EQ(outcome.messages.back().id, WMU_NO_RESPONSE);
}

TEST_F(SmallUpdate, WrongBootloaderVersions) {
    for (const char* version : {"2.9", "3.3"}) {
        SimProcess other;
        std::vector<std::string> args = simArguments(Link::kUdp, {"--bootloader-version", version});
        ASSERT_TRUE(other.start(args)) << other.output();
        UpdateOutcome outcome =
            runUpdateAgainst(bootloaderTransport(other, Link::kUdp), application, flash, true, true, true);
        EXPECT_EQ(outcome.terminal, WMU_WRONG_RESPONSE) << version;
    }
}

TEST_F(SmallUpdate, OnlyFactoryDefaultsAndNothingSelected) {
    ASSERT_TRUE(startSim({"--report", scratch.file("report.json").string()})) << sim.output();
    UpdateOutcome defaults = update(false, false, true);
    EXPECT_EQ(defaults.terminal, WMU_UPDATE_DONE);
    EXPECT_EQ(defaults.range, 10u);
    EXPECT_EQ(defaults.lastPosition, 10u);
    sim.waitExit(20000);

    SimProcess second;
    ASSERT_TRUE(second.start(simArguments(Link::kUdp, {"--exit-after-close"}))) << second.output();
    UpdateOutcome nothing =
        runUpdateAgainst(bootloaderTransport(second, Link::kUdp), application, flash, false, false, false);
    EXPECT_EQ(nothing.terminal, WMU_UPDATE_DONE);
    EXPECT_EQ(nothing.range, 0u);
    EXPECT_EQ(second.waitExit(20000), 0);
}

TEST_F(SmallUpdate, UnitThatVanishesMidStageFailsTheUpdate) {
    ASSERT_TRUE(startSim({"--vanish-after", "20"})) << sim.output();
    UpdateOutcome outcome = update();
    EXPECT_EQ(outcome.terminal, WMU_UPDATE_FAILED);
    EXPECT_EQ(outcome.messages.back().id, WMU_UPDATE_FAILED);
}

TEST_F(SmallUpdate, ExitBootloadLeavesBootloadMode) {
    ASSERT_TRUE(startSim({"--report", scratch.file("report.json").string(), "--run-seconds", "30"})) << sim.output();
    BootloaderEngine engine;
    platform::MessageQueue window;
    EXPECT_EQ(runExitBootload(engine, &window, bootloaderTransport(sim, Link::kUdp)), WMU_BOOTLOAD_EXITED);
    sim.terminate();
    nlohmann::json report = readReport(scratch.file("report.json"));
    const nlohmann::json& unit =
        report.is_array() ? report[0] : (report.contains("units") ? report["units"][0] : report);
    EXPECT_TRUE(unit["leave_received"].get<bool>());
}
