// The device request worker: one long-lived thread that answers "what state is this unit in?"
//
//   window thread: postDeviceRequest(R) --queue--> worker: takes the newest, drops older ones
//   worker --post--> R.window: EXIT_BOOTLOAD_ALLOWED(0), then
//     bootloader answers: BOOTLOADER_FOUND, ENTER_BOOTLOAD_ALLOWED(0), EXIT_BOOTLOAD_ALLOWED(1), APP_VERSION
//     otherwise: NO_BOOTLOADER, APP_VERSION(-1), ENTER(0), EXIT(0), [ENTER(d), EXIT(e) from the command port]
//   and last QUERY_DONE(R.number), once every probe has ended.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/window_messages.h"
#include "transport/transport.h"
#include "transport/unit_address.h"

// Created by the poster, owned by the queue and then by the worker, which deletes it (and its
// transport) whether it is answered or discarded.
struct DeviceRequest {
    platform::WindowHandle window = nullptr;
    // Where the command-port probes go when the bootloader is silent.
    UnitAddress unit;
    // A new, unopened transport to the unit's bootloader: serial at 115200 baud, or UDP to its address.
    std::unique_ptr<Transport> transport;
    // The poster's number for the request, handed back as QUERY_DONE's wParam.
    uint32_t number = 0;
};

// A request about the unit at `unit` over a new transport to its bootloader, answered to `window`.
DeviceRequest deviceRequestFor(platform::WindowHandle window, const UnitAddress& unit);

// Starts the worker (replacing one that runs).
void startRequestWorker();
// Stops the worker after the answer in progress, and deletes every queued request.
void stopRequestWorker();
// Queues a request; dropped (and deleted) when no worker runs or it is stopping.
void postDeviceRequest(std::unique_ptr<DeviceRequest> request);
// Worker side: the oldest queued request, or null.
std::unique_ptr<DeviceRequest> takeDeviceRequest();

// Answers one request on the calling thread: the message sequence above.
void answerDeviceRequest(DeviceRequest& request);
