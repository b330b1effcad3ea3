// The integrity matrix: replies twice, late copies, loss, corrupt replies and writes of varying
// time, for plain and sequenced bootloaders over UDP and a pseudo-terminal, with the described
// resend timing and with fast resends. A plain (3.0-style) reply carries nothing that ties it to
// its request, so wherever a copy could pass for a later reply the run must fail; every run ends
// with identical memories or a reported failure, never a success over a wrong memory. Each cell
// prints a table row. ZT_HAZARD_SEEDS sets the seeds per cell (default 2), ZT_HAZARD_RECORDS the
// application records (default 60; the flash image gets a chunk for every ten);
// scripts/soak_hazards.sh sets both higher.
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

int seedCount() { return positiveFromEnvironment("ZT_HAZARD_SEEDS", 2); }

struct Cell {
    const char* fault;
    const std::vector<std::string>& faults;
    bool sequenced;
    bool fastResend;
};

class IntegrityMatrix : public ::testing::TestWithParam<Link> {
protected:
    void SetUp() override {
        const auto records = static_cast<uint32_t>(positiveFromEnvironment("ZT_HAZARD_RECORDS", 60));
        writeSampleSubset(scratch.file("app.hex"), records, scratch.file("web.bin"), records / 10 * 64 + 5);
        ASSERT_EQ(application.loadFromFile(scratch.file("app.hex")), 1);
        ASSERT_EQ(flash.loadFromFile(scratch.file("web.bin")), 1);
    }

    void runOnce(const Cell& cell, int seed, Tally& tally) {
        std::vector<std::string> args = checkingUnitArgs(scratch.file("app.hex"), scratch.file("web.bin"), GetParam());
        args.insert(args.end(), {"--seed", std::to_string(seed)});
        if (!cell.sequenced) args.push_back("--legacy-bootloader");
        args.insert(args.end(), cell.faults.begin(), cell.faults.end());
        SimProcess sim;
        ASSERT_TRUE(sim.start(args)) << sim.output();
        const uint32_t terminal = runUpdateAgainst(bootloaderTransport(sim, GetParam()), application, flash, true, true,
                                                   false, cell.fastResend)
                                      .terminal;
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

    void runCell(const Cell& cell) {
        Tally tally;
        const int seeds = seedCount();
        const auto start = std::chrono::steady_clock::now();
        for (int seed = 1; seed <= seeds; ++seed) runOnce(cell, seed, tally);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("| %-44s | %-9s | %-6s | %-9s | %5d | %9d | %14d | %12d | %5d | %7.1f |\n", cell.fault,
                    cell.sequenced ? "sequenced" : "plain", GetParam() == Link::kUdp ? "UDP" : "serial",
                    cell.fastResend ? "fast" : "described", seeds, tally.identical, tally.failedAsReported,
                    tally.successWithWrongMemory, tally.other, seconds / seeds);
        EXPECT_EQ(tally.successWithWrongMemory, 0) << cell.fault;
        EXPECT_EQ(tally.other, 0) << cell.fault;
    }

    // Both bootloaders, each with the described timing and with fast resends.
    void runRow(const char* fault, const std::vector<std::string>& faults) {
        for (bool sequenced : {false, true}) {
            for (bool fast : {false, true}) runCell({fault, faults, sequenced, fast});
        }
    }

    ScratchDir scratch;
    CHexManager application;
    CBinManager flash{0x40000};
};

const std::vector<std::string> kTwiceWithLoss = {"--reply-twice", "--drop-in", "3", "--drop-out", "3"};
const std::vector<std::string> kLateCopiesWithLoss = {
    "--reply-twice", "--copy-delay-ms", "50-1500", "--drop-in", "3", "--drop-out", "3"};
const std::vector<std::string> kCorruptWithLoss = {"--corrupt", "5", "--drop-in", "1", "--drop-out", "1"};
const std::vector<std::string> kVariableWritesWithLoss = {
    "--slow-program-percent", "10", "--slow-program-ms", "0-1200", "--drop-in", "1", "--drop-out", "1"};
const std::vector<std::string> kEverything = {"--reply-twice",
                                              "--copy-delay-ms",
                                              "0-250",
                                              "--drop-in",
                                              "2",
                                              "--drop-out",
                                              "2",
                                              "--corrupt",
                                              "2",
                                              "--slow-program-percent",
                                              "5",
                                              "--slow-program-ms",
                                              "0-1200"};

}  // namespace

TEST_P(IntegrityMatrix, RepliesTwiceWithLoss) { runRow("replies twice, 3% loss each way", kTwiceWithLoss); }

TEST_P(IntegrityMatrix, LateCopiesWithLoss) { runRow("copies 50-1500 ms late, 3% loss each way", kLateCopiesWithLoss); }

TEST_P(IntegrityMatrix, CorruptRepliesWithLoss) { runRow("5% corrupt replies, 1% loss each way", kCorruptWithLoss); }

TEST_P(IntegrityMatrix, VariableWritesWithLoss) {
    runRow("10% of writes 0-1200 ms slow, 1% loss", kVariableWritesWithLoss);
}

TEST_P(IntegrityMatrix, EverythingAtOnce) { runRow("all: late copies, loss, corrupt, slow writes", kEverything); }

INSTANTIATE_TEST_SUITE_P(Links, IntegrityMatrix, ::testing::Values(Link::kUdp, Link::kSerial),
                         [](const auto& instance) {
                             return std::string(instance.param == Link::kUdp ? "Udp" : "Serial");
                         });
