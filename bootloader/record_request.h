// Packing the application image's records into program requests, shared by the update and by
// the estimate of an image's transfer.
#pragma once

#include <cstdint>

#include "content/hex_manager.h"

// Most records one program request carries.
constexpr uint32_t kRecordsPerRequest = 8;
// Room for a request's records: the largest payload the engine's staging buffer takes.
constexpr uint32_t kRecordRequestBytes = 2048;

// Takes up to kRecordsPerRequest records from the image's cursor into `request` (room for
// kRecordRequestBytes), as many as fit a frame once stuffed whatever the header's sequence
// number; returns the bytes filled, 0 once every record has been taken.
uint32_t packRecordRequest(CHexManager& image, uint8_t* request);

// Bytes of `length` bytes on the wire, each SOH, EOT or DLE sent as two.
uint32_t stuffedSize(const uint8_t* bytes, uint32_t length);

// True when the image holds a data record with at least one byte (a file of nothing but the
// end record would erase a unit and write nothing). Leaves the cursor rewound.
bool hasDataRecords(CHexManager& image);
