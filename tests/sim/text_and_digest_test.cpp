// HEX text in and out, the SHA-256 used in reports, the report's checks, and the command port.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "sim/command_port.h"
#include "sim/intel_hex.h"
#include "sim/report.h"
#include "content/sha256.h"
#include "sim/sim_unit.h"
#include "tests/support/scratch_dir.h"

namespace {

std::string digestOf(const std::string& text) {
    return sha256Hex(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(SimSha256, KnownVectorsAndAgreementWithSha256sum) {
    EXPECT_EQ(digestOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digestOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digestOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");

    // Lengths around the 56- and 64-byte padding boundaries, checked by the system's tool.
    std::mt19937 random(3);
    ScratchDir scratch;
    const std::string path = scratch.file("sha_input").string();
    for (size_t length : {55u, 56u, 63u, 64u, 65u, 1000u, 100000u}) {
        std::string data(length, '\0');
        for (char& c : data) c = static_cast<char>(random());
        std::ofstream(path, std::ios::binary) << data;
        FILE* tool = popen(("sha256sum " + path).c_str(), "r");
        ASSERT_NE(tool, nullptr);
        char line[128] = {};
        ASSERT_NE(fgets(line, sizeof line, tool), nullptr);
        pclose(tool);
        EXPECT_EQ(digestOf(data), std::string(line, 64)) << length;
    }
}

TEST(SimHexText, DumpReadsBackToTheSameMemory) {
    SparseMemory memory;
    for (uint32_t i = 0; i < 40; ++i) memory.write(0x1D00FFF0 + i, static_cast<uint8_t>(i * 7));
    memory.write(0x1FC00000, 0x5A);
    std::string text = formatHexText(memory);
    EXPECT_EQ(text.substr(0, 17), ":020000041D00DD\r\n");
    EXPECT_EQ(text.substr(text.size() - 13), ":00000001FF\r\n");

    SparseMemory again;
    std::string error;
    ASSERT_TRUE(loadHexText(text, again, error)) << error;
    MemoryCheck check = compareMemory(again, memory);
    EXPECT_TRUE(check.matches);
}

TEST(SimHexText, MalformedLinesAreRefusedWithTheirLineNumber) {
    SparseMemory memory;
    std::string error;
    EXPECT_FALSE(loadHexText(":020000041D00DD\n:0100000000FE\n", memory, error));
    EXPECT_EQ(error, "line 2: bad record checksum");
    EXPECT_FALSE(loadHexText(":0100000000F\n", memory, error));
    EXPECT_FALSE(loadHexText("0100000000FF\n", memory, error));
}

TEST(SimChecks, DifferencesAreCountedByKind) {
    SparseMemory expected, actual;
    for (uint32_t a = 0; a < 4; ++a) expected.write(0x100 + a, 1);
    actual.write(0x100, 1);
    actual.write(0x101, 2);  // different
    actual.write(0x0FF, 1);  // extra, and the lowest difference
    MemoryCheck check = compareMemory(actual, expected);
    EXPECT_FALSE(check.matches);
    EXPECT_EQ(check.differentBytes, 1u);
    EXPECT_EQ(check.missingBytes, 2u);
    EXPECT_EQ(check.extraBytes, 1u);
    EXPECT_EQ(check.firstDifference, 0x0FFu);
}

TEST(SimChecks, FlashDigestOfACompleteImageIsTheImageDigest) {
    std::vector<uint8_t> image(1000);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 13);
    SparseMemory flash = flashFromImage(image, 0x40000);
    EXPECT_EQ(flashDigest(flash, 0x40000), sha256Hex(image.data(), image.size()));
}

class SimCommandPort : public ::testing::Test {
protected:
    std::vector<std::string> send(const std::string& text) {
        return port.feed(pending, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    UnitConfig config;
    CommandPort port{config};
    std::string pending;
};

TEST_F(SimCommandPort, UnlockSequenceWithCrLfOrBareAndSplitReads) {
    EXPECT_EQ(send("<SY,BQ/>\r\n"), std::vector<std::string>{"<sy,bq = ud/>"});
    EXPECT_EQ(send("<SY,BU12"), std::vector<std::string>{});
    EXPECT_EQ(send("34/>"), std::vector<std::string>{"<sy,bu = ud/>"});
    EXPECT_EQ(send("<SY,BE/>"), std::vector<std::string>{"<sy,be = ue/>"});
    EXPECT_EQ(send("<SY,BQ/>"), std::vector<std::string>{"<sy,bq = ue/>"});
    EXPECT_FALSE(port.restartRequested());
    EXPECT_EQ(send("<SY,BR/>\r\n<SY,BQ/>"), std::vector<std::string>{"<sy,br/>"});
    EXPECT_TRUE(port.restartRequested());
}

TEST_F(SimCommandPort, WrongPinIsRefusedAndLeavesTheUnitLocked) {
    EXPECT_EQ(send("<SY,BU9999/>"), std::vector<std::string>{kWrongPinReply});
    EXPECT_EQ(send("<SY,BE/>"), std::vector<std::string>{kLockedReply});
    EXPECT_EQ(send("<SY,BR/>"), std::vector<std::string>{kLockedReply});
    EXPECT_EQ(send("junk<SY,XX/>"), std::vector<std::string>{kUnknownCommandReply});
    EXPECT_EQ(port.stats().wrongPins, 1u);
}

TEST(SimRestart, BootloadRequestSilencesTheCommandPortThenStartsTheBootloader) {
    UnitConfig config;
    config.bootloadEnabled = true;
    config.restartDelayMs = 200;
    SimUnit unit(config);
    std::string pending;
    std::string text = "<SY,BU1234/><SY,BR/>";
    auto replies = unit.onCommandText(pending, reinterpret_cast<const uint8_t*>(text.data()), text.size(), 1000);
    EXPECT_EQ(replies, (std::vector<std::string>{"<sy,bu = ue/>", "<sy,br/>"}));
    EXPECT_FALSE(unit.commandPortOpen());
    EXPECT_EQ(unit.nextEventMs(), 1200u);
    unit.tick(1199);
    EXPECT_EQ(unit.mode(), UnitMode::Restarting);
    unit.tick(1200);
    EXPECT_EQ(unit.mode(), UnitMode::Bootload);
}

}  // namespace
