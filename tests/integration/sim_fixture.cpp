#include "tests/integration/sim_fixture.h"

#include <fstream>
#include <sstream>

#include "bootloader/update_sequence.h"
#include "platform/sockets.h"
#include "tests/support/message_pump.h"
#include "transport/com_transport.h"
#include "transport/ethernet_transport.h"
#include "ui/worker_messages.h"

void writeSampleSubset(const std::filesystem::path& hex, uint32_t dataRecords, const std::filesystem::path& flash,
                       uint32_t flashBytes) {
    std::ifstream in(ZT_SAMPLE_HEX, std::ios::binary);
    std::ofstream out(hex, std::ios::binary);
    std::string line;
    uint32_t written = 0;
    while (written < dataRecords && std::getline(in, line)) {
        out << line << "\n";
        if (line.size() > 8 && line.compare(7, 2, "00") == 0) ++written;
    }
    out << ":00000001FF\r\n";

    std::ifstream image(ZT_SAMPLE_FLASH, std::ios::binary);
    std::vector<char> bytes(flashBytes);
    image.read(bytes.data(), flashBytes);
    std::ofstream(flash, std::ios::binary).write(bytes.data(), image.gcount());
}

uint32_t loopbackAddress() { return platform::ipv4Address(127, 0, 0, 1); }

std::vector<std::string> checkingUnitArgs(const std::filesystem::path& hex, const std::filesystem::path& flash,
                                          Link link) {
    std::vector<std::string> args = {
        "--bind",   "127.0.0.1",          "--udp-port",  "0",          "--no-discovery", "--no-tcp",    "--start-mode",
        "bootload", "--exit-after-close", "--check-hex", hex.string(), "--check-flash",  flash.string()};
    if (link == Link::kUdp) args.push_back("--no-serial");
    return args;
}

std::unique_ptr<Transport> bootloaderTransport(const SimProcess& sim, Link link) {
    if (link == Link::kSerial) {
        std::string path = sim.endpoint("serial");
        return std::make_unique<COMTransport>(std::wstring(path.begin(), path.end()), 115200);
    }
    return std::make_unique<EthernetTransport>(loopbackAddress(), sim.port("udp"));
}

nlohmann::json readReport(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return nlohmann::json::parse(text.str(), nullptr, false);
}

UpdateOutcome runUpdateAgainst(std::unique_ptr<Transport> transport, CHexManager& application, CBinManager& flash,
                               bool firmware, bool ui, bool defaults, bool fastResend) {
    BootloaderEngine engine;
    engine.setFastResend(fastResend ? FastResend::kAlways : FastResend::kNever);
    UpdateOptions options;
    options.overwriteServerFirmware = firmware;
    options.overwriteServerUi = ui;
    options.overwriteFactoryDefaults = defaults;
    platform::MessageQueue window;
    UpdateJob job{engine, application, flash, options, &window, L"V1.12"};
    UpdateOutcome outcome;
    outcome.messages = pumpWhile(window, [&] { outcome.terminal = runUpdate(job, std::move(transport)); });
    for (const auto& m : outcome.messages) {
        if (m.id == WMU_PROGRESS_RANGE) outcome.range = static_cast<uint32_t>(m.lParam);
        if (m.id == WMU_PROGRESS_POS) outcome.lastPosition = static_cast<uint32_t>(m.wParam);
    }
    return outcome;
}
