// The device request worker and the command port against zt-unit-sim on loopback.
#include <gtest/gtest.h>

#include "bootloader/request_worker.h"
#include "commandport/command_port.h"
#include "tests/integration/sim_fixture.h"
#include "transport/ethernet_transport.h"
#include "ui/worker_messages.h"

namespace {

using Sequence = std::vector<std::pair<uint32_t, intptr_t>>;

class WorkerAgainstSim : public ::testing::Test {
protected:
    void TearDown() override { parserPort = kDefaultParserPort; }

    bool startUnit(const std::vector<std::string>& extra) {
        std::vector<std::string> args = {
            "--bind",         "127.0.0.1",   "--udp-port",   "0",   "--tcp-port", "0",
            "--no-discovery", "--no-serial", "--restart-ms", "200", "--report",   scratch.file("report.json").string()};
        args.insert(args.end(), extra.begin(), extra.end());
        if (!sim.start(args)) return false;
        parserPort = sim.port("tcp");
        return true;
    }

    std::unique_ptr<Transport> unitConnection() {
        return std::make_unique<EthernetTransport>(loopbackAddress(), sim.port("udp"));
    }
    // The simulator's command port is reached at parserPort on this address.
    const UnitAddress simUnit = UnitAddress::network(loopbackAddress());

    Sequence ask() {
        platform::MessageQueue window;
        DeviceRequest request{&window, simUnit, unitConnection()};
        answerDeviceRequest(request);
        Sequence out;
        platform::WindowMessage m;
        while (window.receive(m, 0)) {
            out.emplace_back(m.id, m.id == WMU_APP_VERSION ? m.lParam : static_cast<intptr_t>(m.wParam));
        }
        return out;
    }

    nlohmann::json report() {
        sim.terminate();
        nlohmann::json all = readReport(scratch.file("report.json"));
        return all.is_array() ? all[0] : (all.contains("units") ? all["units"][0] : all);
    }

    ScratchDir scratch;
    SimProcess sim;
};

const intptr_t kNone = static_cast<intptr_t>(APP_VERSION_NONE);
const Sequence kNoBootloader = {{WMU_EXIT_BOOTLOAD_ALLOWED, 0},
                                {WMU_NO_BOOTLOADER, 0},
                                {WMU_APP_VERSION, kNone},
                                {WMU_ENTER_BOOTLOAD_ALLOWED, 0},
                                {WMU_EXIT_BOOTLOAD_ALLOWED, 0}};

Sequence then(Sequence head, const Sequence& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

}  // namespace

TEST_F(WorkerAgainstSim, UnitInBootloadMode) {
    ASSERT_TRUE(startUnit({"--start-mode", "bootload", "--app-version", "2.5"})) << sim.output();
    EXPECT_EQ(ask(), (Sequence{{WMU_EXIT_BOOTLOAD_ALLOWED, 0},
                               {WMU_BOOTLOADER_FOUND, 0x0301},
                               {WMU_ENTER_BOOTLOAD_ALLOWED, 0},
                               {WMU_EXIT_BOOTLOAD_ALLOWED, 1},
                               {WMU_APP_VERSION, 0x00020005},
                               {WMU_QUERY_DONE, 0}}));
}

TEST_F(WorkerAgainstSim, ApplicationWithBootloadDisabledOrEnabled) {
    ASSERT_TRUE(startUnit({})) << sim.output();
    EXPECT_EQ(ask(), then(kNoBootloader,
                          {{WMU_ENTER_BOOTLOAD_ALLOWED, 1}, {WMU_EXIT_BOOTLOAD_ALLOWED, 0}, {WMU_QUERY_DONE, 0}}));
    sim.terminate();

    SimProcess enabled;
    ASSERT_TRUE(enabled.start({"--bind", "127.0.0.1", "--udp-port", "0", "--tcp-port", "0", "--no-discovery",
                               "--no-serial", "--bootload-enabled"}))
        << enabled.output();
    parserPort = enabled.port("tcp");
    platform::MessageQueue window;
    DeviceRequest request{&window, simUnit,
                          std::make_unique<EthernetTransport>(loopbackAddress(), enabled.port("udp"))};
    answerDeviceRequest(request);
    Sequence got;
    platform::WindowMessage m;
    while (window.receive(m, 0))
        got.emplace_back(m.id, m.id == WMU_APP_VERSION ? m.lParam : static_cast<intptr_t>(m.wParam));
    EXPECT_EQ(got, then(kNoBootloader,
                        {{WMU_ENTER_BOOTLOAD_ALLOWED, 0}, {WMU_EXIT_BOOTLOAD_ALLOWED, 1}, {WMU_QUERY_DONE, 0}}));
}

TEST_F(WorkerAgainstSim, NothingAnswers) {
    ASSERT_TRUE(startUnit({"--no-tcp", "--silent-bootloader"})) << sim.output();
    parserPort = 1;  // nothing listens there: the connection is refused at once
    EXPECT_EQ(ask(), then(kNoBootloader, {{WMU_QUERY_DONE, 0}}));
}

TEST_F(WorkerAgainstSim, RightPinPutsTheUnitIntoBootloadMode) {
    ASSERT_TRUE(startUnit({"--pin", "4821"})) << sim.output();
    ASSERT_EQ(enterBootload(simUnit, "4821"), EnterBootloadResult::kEnabled);
    Sequence answer;
    for (int attempt = 0; attempt < 10; ++attempt) {
        answer = ask();
        if (answer.size() > 1 && answer[1].first == WMU_BOOTLOADER_FOUND) break;
    }
    ASSERT_GT(answer.size(), 1u);
    EXPECT_EQ(answer[1].first, WMU_BOOTLOADER_FOUND);
}

TEST_F(WorkerAgainstSim, WrongPinSendsNeitherEnableNorRestart) {
    ASSERT_TRUE(startUnit({"--pin", "4821"})) << sim.output();
    EXPECT_EQ(enterBootload(simUnit, "1111"), EnterBootloadResult::kUnlockFailed);
    nlohmann::json unit = report();
    EXPECT_EQ(unit["command_port"]["commands"], 2);
    EXPECT_EQ(unit["command_port"]["wrong_pins"], 1);
    EXPECT_EQ(unit["mode"], "application");
}
