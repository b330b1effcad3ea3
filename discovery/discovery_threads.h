// The two discovery threads and their shared stop flag.
//
//   ip_discover_thread  --post WMU_NETWORK_UNIT_FOUND (flags, sender address)--> window
//   com_discover_thread --post WMU_SERIAL_UNIT_FOUND (1 bootload / 0 application, port index)--> window
//
// Each runs until its stop flag is set. The window thread clears the flag, starts one thread,
// and later sets the flag and joins without a time limit: a network thread ends within about
// a second, a serial thread after the probe of its current port (several seconds).
#pragma once

#include <atomic>
#include <cstdint>

#include "discovery/discovery_formats.h"
#include "platform/window_messages.h"
#include "transport/com_transport.h"

// Written by the window thread that starts discovery; read by the running thread.
extern std::atomic<bool> discoveryStop;

struct NetworkDiscoverySettings {
    uint16_t port = kDiscoveryPort;
    uint32_t receiveTimeoutMs = 1000;
    uint32_t receiveAttempts = 10;
    uint32_t pauseMs = 1000;  // between cycles
};

struct SerialDiscoverySettings {
    uint32_t bootloaderRate = kBootloaderBaudRate;
    uint16_t bootloaderAttempts = 5;
    uint16_t bootloaderTimeoutMs = 500;
    uint32_t textTimeoutMs = 250;
    // An empty port table is checked again after this pause, so the thread does not spin.
    uint32_t emptyTablePauseMs = 50;
};

// Broadcasts requests on every interface and posts each reply of this model to `window`.
// Socket failures are shown through platform::showAlert; the thread then ends, as it does
// silently when the interface table cannot be read.
void runNetworkDiscovery(platform::WindowHandle window, const std::atomic<bool>& stop,
                         const NetworkDiscoverySettings& settings = {});

// Probes every port of comPortTable, again and again: bootloader command 13 at 115200, then
// "<SY,BQ/>" at each rate of baudRates. Transports come from makeSerialTransport.
void runSerialDiscovery(platform::WindowHandle window, const std::atomic<bool>& stop,
                        const SerialDiscoverySettings& settings = {});

// The latest announcement from a network unit (address in network byte order); empty fields
// for an address that sent none.
DiscoveryAnnouncement announcementFrom(uint32_t address);

// Thread entries: default settings, stopped by discoveryStop.
void ip_discover_thread(platform::WindowHandle window);
void com_discover_thread(platform::WindowHandle window);
