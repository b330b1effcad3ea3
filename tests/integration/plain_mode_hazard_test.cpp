// Late and duplicated replies. A plain (3.0-style) bootloader's reply carries nothing that ties
// it to its request, so a duplicate that arrives after the next request went out could be taken
// for that request's reply. Plain or sequenced, every run must end with identical memories or a
// reported failure; the counts and the time taken are printed.
// ZT_HAZARD_SEEDS sets the seeds per case (default 4), ZT_HAZARD_RECORDS the application records
// (default 120; the flash image gets a chunk for every ten); scripts/soak_hazards.sh sets both.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "tests/integration/sim_fixture.h"
#include "ui/worker_messages.h"

namespace {

struct Tally {
    int identical = 0;
    int failedAsReported = 0;
    int successWithWrongMemory = 0;
    int other = 0;
};

int positiveFromEnvironment(const char* name, int fallback) {
    const char* text = std::getenv(name);
    const int value = text ? std::atoi(text) : fallback;
    return value > 0 ? value : fallback;
}

int seedCount() { return positiveFromEnvironment("ZT_HAZARD_SEEDS", 4); }

struct HazardCase {
    const char* name;
    std::vector<std::string> faults;
    bool sequenced;
};

class PlainModeHazards : public ::testing::TestWithParam<Link> {
protected:
    void SetUp() override {
        const auto records = static_cast<uint32_t>(positiveFromEnvironment("ZT_HAZARD_RECORDS", 120));
        writeSampleSubset(scratch.file("app.hex"), records, scratch.file("web.bin"), records / 10 * 64 + 5);
        ASSERT_EQ(application.loadFromFile(scratch.file("app.hex")), 1);
        ASSERT_EQ(flash.loadFromFile(scratch.file("web.bin")), 1);
    }

    void runOnce(const HazardCase& hazard, int seed, Tally& tally) {
        std::vector<std::string> args = checkingUnitArgs(scratch.file("app.hex"), scratch.file("web.bin"), GetParam());
        args.insert(args.end(), {"--seed", std::to_string(seed)});
        if (!hazard.sequenced) args.push_back("--legacy-bootloader");
        args.insert(args.end(), hazard.faults.begin(), hazard.faults.end());
        SimProcess sim;
        ASSERT_TRUE(sim.start(args)) << sim.output();
        const uint32_t terminal =
            runUpdateAgainst(bootloaderTransport(sim, GetParam()), application, flash, true, true, false).terminal;
        if (terminal == WMU_UPDATE_DONE) {
            // Stopped, not awaited: a lost closing command (it has no reply) is no hazard here.
            const int status = sim.stop();
            (status == 0 ? tally.identical : status == 1 ? tally.successWithWrongMemory : tally.other)++;
        } else if (terminal == WMU_UPDATE_FAILED || terminal == WMU_NO_RESPONSE) {
            tally.failedAsReported++;
        } else {
            tally.other++;
        }
    }

    void runCase(const HazardCase& hazard) {
        Tally tally;
        const int seeds = seedCount();
        const auto start = std::chrono::steady_clock::now();
        for (int seed = 1; seed <= seeds; ++seed) runOnce(hazard, seed, tally);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf(
            "%s over %s, %d seeds: %d identical, %d failed as reported, %d success with wrong memory, "
            "%d other, %.1f s a run\n",
            hazard.name, GetParam() == Link::kUdp ? "UDP" : "serial", seeds, tally.identical, tally.failedAsReported,
            tally.successWithWrongMemory, tally.other, seconds / seeds);
        EXPECT_EQ(tally.successWithWrongMemory, 0);
        EXPECT_EQ(tally.other, 0);
    }

    ScratchDir scratch;
    CHexManager application;
    CBinManager flash{0x40000};
};

}  // namespace

std::vector<std::string> duplicatesAndLoss(const char* percent) {
    return {"--reply-twice", "--drop-in", percent, "--drop-out", percent};
}

TEST_P(PlainModeHazards, PlainRepliesSentTwiceWithLoss) {
    runCase({"plain, replies twice, 1% loss each way", duplicatesAndLoss("1"), false});
    runCase({"plain, replies twice, 3% loss each way", duplicatesAndLoss("3"), false});
}

TEST_P(PlainModeHazards, SequencedRepliesSentTwiceWithLoss) {
    runCase({"sequenced, replies twice, 1% loss each way", duplicatesAndLoss("1"), true});
    runCase({"sequenced, replies twice, 3% loss each way", duplicatesAndLoss("3"), true});
}

const std::vector<std::string> kSlowWrites = {"--slow-program-percent", "5", "--slow-program-ms", "1300"};

TEST_P(PlainModeHazards, PlainWritesSlowerThanTheResendTime) {
    runCase({"plain, 5% of writes 1300 ms slow", kSlowWrites, false});
}

TEST_P(PlainModeHazards, SequencedWritesSlowerThanTheResendTime) {
    runCase({"sequenced, 5% of writes 1300 ms slow", kSlowWrites, true});
}

INSTANTIATE_TEST_SUITE_P(Links, PlainModeHazards, ::testing::Values(Link::kUdp, Link::kSerial),
                         [](const auto& instance) {
                             return std::string(instance.param == Link::kUdp ? "Udp" : "Serial");
                         });
