// com_discover_thread: bootloader probe, then command-port probes, on each port in turn.
#include <memory>
#include <string>

#include "bootloader/bootloader_commands.h"
#include "bootloader/bootloader_engine.h"
#include "commandport/command_port.h"
#include "discovery/discovery_threads.h"
#include "discovery/serial_identification.h"
#include "platform/clock.h"
#include "transport/com_port_table.h"
#include "transport/transport_factory.h"
#include "ui/worker_messages.h"

namespace {

struct SerialProbe {
    platform::WindowHandle window;
    const SerialDiscoverySettings& settings;
    size_t prefixLength;
    BootloaderEngine engine;
    // Whether any port of the current pass opened.
    bool portOpened = false;
};

void reportUnit(SerialProbe& probe, size_t portIndex, bool bootload) {
    platform::postWindowMessage(probe.window,
                                {WMU_SERIAL_UNIT_FOUND, bootload ? 1u : 0u, static_cast<intptr_t>(portIndex), {}});
}

bool bootloaderAnswers(SerialProbe& probe, const std::wstring& portName) {
    BootloaderEngine& engine = probe.engine;
    engine.resetEngine();
    engine.setTransport(makeSerialTransport(portName, probe.settings.bootloaderRate));
    // A port that did not open fails the transaction by itself.
    if (engine.openTransport()) probe.portOpened = true;
    BootloaderCommands commands(engine);
    const uint8_t* text = nullptr;
    uint16_t length = 0;
    const bool found =
        commands.identifyText(probe.settings.bootloaderAttempts, probe.settings.bootloaderTimeoutMs, text, length) &&
        isBootloadIdentification(text, length, probe.prefixLength);
    engine.closeTransport();
    engine.releaseTransport();
    return found;
}

// True when the command port answered the query at `rate`; bootload then tells its state.
bool commandPortAnswers(SerialProbe& probe, const std::wstring& portName, uint32_t rate, bool& bootload) {
    std::unique_ptr<Transport> transport = makeSerialTransport(portName, rate);
    bool found = false;
    if (transport->open()) {
        char reply[kQueryReplyBytes] = {};
        found = queryCommandPort(*transport, reply, probe.settings.textTimeoutMs);
        bootload = found && bootloadStateOf(reply) == 'e';
        transport->close();
    }
    return found;
}

void probePort(SerialProbe& probe, size_t portIndex, const std::wstring& portName) {
    if (bootloaderAnswers(probe, portName)) {
        reportUnit(probe, portIndex, true);
        return;
    }
    for (const uint32_t* rate = baudRates; *rate != 0; ++rate) {
        bool bootload = false;
        if (commandPortAnswers(probe, portName, *rate, bootload)) {
            reportUnit(probe, portIndex, bootload);
            return;
        }
    }
}

}  // namespace

void runSerialDiscovery(platform::WindowHandle window, const std::atomic<bool>& stop,
                        const SerialDiscoverySettings& settings) {
    SerialProbe probe{window, settings, announcePrefix().size(), {}};
    while (!stop.load()) {
        probe.portOpened = false;
        for (size_t index = 0; index < kComPortTableSize && !stop.load(); ++index) {
            const std::wstring portName = comPortAt(index);
            if (portName.empty()) break;
            probePort(probe, index, portName);
        }
        // A pass in which no port would open takes no time: pause as for an empty table.
        if (!probe.portOpened && !stop.load()) platform::sleepMs(settings.emptyTablePauseMs);
    }
}

void com_discover_thread(platform::WindowHandle window) { runSerialDiscovery(window, discoveryStop); }
