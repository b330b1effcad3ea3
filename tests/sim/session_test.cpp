// Whole conversations with the built simulator over loopback UDP and its pseudo-terminal.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "sim/discovery_responder.h"
#include "sim/intel_hex.h"
#include "content/sha256.h"
#include "tests/sim/sim_process.h"
#include "tests/support/scratch_dir.h"

namespace {

constexpr int kReplyWaitMs = 2000;

void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

nlohmann::json readReport(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return nlohmann::json::parse(text.str(), nullptr, false);
}

Bytes ask(LoopbackUdp& client, uint16_t port, const Bytes& message) {
    client.sendTo(port, frameOf(message));
    return replyMessage(client.receive(kReplyWaitMs));
}

TEST(SimSessionUdp, FullUpdateWithAResentRequestPassesTheChecks) {
    Bytes records =
        concat({rawRecord(kExtendedLinearRecord, 0, {0x1D, 0x00}),
                rawRecord(kDataRecord, 0x0000, {0x10, 0x01, 0x04, 0x55}), rawRecord(kEndOfFileRecord, 0, {})});
    SparseMemory expected;
    HexRecordWriter writer(expected);
    for (size_t offset = 0, used = 0; offset < records.size(); offset += used) {
        writer.apply(records.data() + offset, records.size() - offset, used);
    }
    ScratchDir scratch;
    const std::string hexPath = scratch.file("expected.hex").string();
    const std::string flashPath = scratch.file("expected.bin").string();
    const std::string reportPath = scratch.file("udp_report.json").string();
    // Not UTF-8: the report that names the dump must still be written.
    const std::string dumpPath = scratch.file("dump\xE9.hex").string();
    writeText(hexPath, formatHexText(expected));
    Bytes image(100);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i);
    writeText(flashPath, std::string(image.begin(), image.end()));

    SimProcess sim;
    ASSERT_TRUE(sim.start({"--udp-port", "0", "--discovery-port", "0", "--no-tcp", "--no-serial", "--start-mode",
                           "bootload", "--exit-after-close", "--report", reportPath, "--dump-hex", dumpPath,
                           "--check-hex", hexPath, "--check-flash", flashPath, "--run-seconds", "30"}))
        << sim.output();
    uint16_t port = sim.port("udp");
    ASSERT_NE(port, 0);
    LoopbackUdp client;

    client.sendTo(sim.port("discovery"), Bytes(kDiscoveryRequest, kDiscoveryRequest + 29));
    Bytes announce = client.receive(kReplyWaitMs);
    EXPECT_EQ(std::string(announce.begin(), announce.end()).find("Tavin ZT Series - Bootload\r\n"),
              std::string("ZT Unit\r\n00-1E-C0-00-00-01\r\n").size());

    EXPECT_EQ(ask(client, port, {0x01}), (Bytes{0x01, 0x03, 0x01, 0x01}));
    EXPECT_EQ(ask(client, port, sequencedMessage(0x89, 1)), (Bytes{0x89, 0, 0, 0, 1, 0, 0, 1, 0}));
    EXPECT_EQ(ask(client, port, sequencedMessage(0x82, 2)), (Bytes{0x82, 0, 0, 0, 2, 1}));
    Bytes program = sequencedMessage(0x83, 3, records);
    EXPECT_EQ(ask(client, port, program), (Bytes{0x83, 0, 0, 0, 3, 1}));
    EXPECT_EQ(ask(client, port, program), (Bytes{0x83, 0, 0, 0, 3, 1}));  // as after a lost reply
    EXPECT_EQ(ask(client, port, sequencedMessage(0x88, 4, {12, 0, 1, 0})), (Bytes{0x88, 0, 0, 0, 4, 1}));
    EXPECT_EQ(ask(client, port, sequencedMessage(0x85, 5)), (Bytes{0x85, 0, 0, 0, 5, 1}));
    uint32_t sequence = 6;
    for (size_t offset = 0; offset < image.size(); offset += 64) {
        uint32_t address = 0x40000 + static_cast<uint32_t>(offset);
        uint32_t length = static_cast<uint32_t>(std::min<size_t>(64, image.size() - offset));
        Bytes block(72, 0);
        for (int i = 0; i < 4; ++i) block[i] = static_cast<uint8_t>(address >> (8 * i));
        block[4] = static_cast<uint8_t>(length);
        std::copy_n(image.begin() + static_cast<long>(offset), length, block.begin() + 8);
        EXPECT_EQ(ask(client, port, sequencedMessage(0x86, sequence, block)).back(), 1);
        ++sequence;
    }
    EXPECT_EQ(ask(client, port, sequencedMessage(0x87, sequence++)).back(), 1);
    client.sendTo(port, frameOf(sequencedMessage(0x84, sequence)));
    EXPECT_TRUE(client.receive(300).empty());

    ASSERT_EQ(sim.waitExit(5000), 0);
    nlohmann::json unit = readReport(reportPath)["units"][0];
    EXPECT_EQ(unit["duplicates"], 1);
    EXPECT_EQ(unit["close_received"], true);
    EXPECT_EQ(unit["anomaly_count"], 0);
    EXPECT_EQ(unit["application_version"]["minor"], 12);
    EXPECT_EQ(unit["check"]["application"]["matches"], true);
    EXPECT_EQ(unit["check"]["flash"]["matches"], true);
    EXPECT_EQ(unit["flash_sha256"], sha256Hex(image.data(), image.size()));
    EXPECT_TRUE(unit["application_hex"].is_string());
    SparseMemory dumped;
    std::string error;
    std::ifstream dump(dumpPath);
    std::stringstream dumpText;
    dumpText << dump.rdbuf();
    ASSERT_TRUE(loadHexText(dumpText.str(), dumped, error)) << error;
    EXPECT_EQ(dumped.bytesWritten(), 4u);
}

TEST(SimSessionUdp, CarelessReplayIsCaughtByTheHexCheck) {
    Bytes records = concat({rawRecord(kDataRecord, 0xFFFF, {0x77}), rawRecord(kExtendedLinearRecord, 0, {0x1D, 0x00}),
                            rawRecord(kDataRecord, 0x0000, {0x88})});
    ScratchDir scratch;
    std::string hexPath = scratch.file("careless.hex").string();
    writeText(hexPath, ":01FFFF00778A\r\n:020000041D00DD\r\n:010000008877\r\n:00000001FF\r\n");
    for (bool careless : {false, true}) {
        std::vector<std::string> arguments = {
            "--udp-port",    "0",        "--no-discovery",     "--no-tcp",    "--no-serial",
            "--start-mode",  "bootload", "--exit-after-close", "--check-hex", hexPath,
            "--run-seconds", "30"};
        if (careless) arguments.push_back("--careless-replay");
        SimProcess sim;
        ASSERT_TRUE(sim.start(arguments)) << sim.output();
        LoopbackUdp client;
        ask(client, sim.port("udp"), {0x01});
        ask(client, sim.port("udp"), {0x02});
        Bytes program = concat({{0x03}, records});
        EXPECT_EQ(ask(client, sim.port("udp"), program), (Bytes{0x03, 1}));
        EXPECT_EQ(ask(client, sim.port("udp"), program), (Bytes{0x03, 1}));
        client.sendTo(sim.port("udp"), frameOf({0x04}));
        EXPECT_EQ(sim.waitExit(5000), careless ? 1 : 0) << (careless ? "careless" : "careful");
    }
}

TEST(SimSessionSerial, UnlockRestartBootloaderAndLeaveOverThePseudoTerminal) {
    SimProcess sim;
    ASSERT_TRUE(sim.start(
        {"--no-udp", "--no-discovery", "--no-tcp", "--pace-serial", "--restart-ms", "100", "--run-seconds", "30"}))
        << sim.output();
    SerialClient serial(sim.endpoint("serial"));
    ASSERT_TRUE(serial.isOpen()) << sim.endpoint("serial");
    auto say = [&](const std::string& command) {
        serial.write(command);
        Bytes reply = serial.readUntil(endsWithReply, kReplyWaitMs);
        return std::string(reply.begin(), reply.end());
    };
    EXPECT_EQ(say("<SY,BQ/>"), "<sy,bq = ud/>\r\n");
    EXPECT_EQ(say("<SY,BU1234/>"), "<sy,bu = ud/>\r\n");
    EXPECT_EQ(say("<SY,BE/>"), "<sy,be = ue/>\r\n");
    EXPECT_EQ(say("<SY,BR/>"), "<sy,br/>\r\n");

    Bytes version;
    for (int attempt = 0; attempt < 20 && version.empty(); ++attempt) {
        serial.write(frameOf({0x01}));
        version = replyMessage(serial.readUntil(endsWithFrame, 200));
    }
    EXPECT_EQ(version, (Bytes{0x01, 0x03, 0x01, 0x01}));
    serial.write(frameOf({0x0D}));
    Bytes identification = replyMessage(serial.readUntil(endsWithFrame, kReplyWaitMs));
    ASSERT_FALSE(identification.empty());
    std::string text(identification.begin() + 1, identification.end());
    EXPECT_NE(text.find("\r\nTavin ZT Series - Bootload\r\n"), std::string::npos) << text;

    serial.write(frameOf({0x0B}));
    std::string answer;
    for (int attempt = 0; attempt < 20 && answer.empty(); ++attempt) {
        serial.write("<SY,BQ/>");
        Bytes reply = serial.readUntil(endsWithReply, 200);
        answer.assign(reply.begin(), reply.end());
    }
    EXPECT_EQ(answer, "<sy,bq = ue/>\r\n");
}

TEST(SimStartup, BadFlagsAndABusyPortAreRefused) {
    SimProcess badFlag;
    EXPECT_FALSE(badFlag.start({"--no-such-flag"}));
    EXPECT_EQ(badFlag.waitExit(5000), 2);

    SimProcess first;
    ASSERT_TRUE(first.start({"--udp-port", "0", "--no-discovery", "--no-tcp", "--no-serial", "--run-seconds", "30"}));
    SimProcess second;
    EXPECT_FALSE(
        second.start({"--udp-port", std::to_string(first.port("udp")), "--no-discovery", "--no-tcp", "--no-serial"}));
    EXPECT_EQ(second.waitExit(5000), 2);
    EXPECT_NE(second.output().find("cannot bind udp 127.0.0.1:"), std::string::npos) << second.output();
}

}  // namespace
