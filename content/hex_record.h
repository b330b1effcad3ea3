// The layout of one Intel HEX record as bytes: count, address (high, low), type, data (count
// bytes), checksum. The loader keeps records as they stand; the file check and the request
// packing read these fields.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kRecordCountOffset = 0;
constexpr size_t kRecordAddressOffset = 1;
constexpr size_t kRecordTypeOffset = 3;
constexpr size_t kRecordDataOffset = 4;
// Count, address, type and checksum around the data.
constexpr size_t kRecordOverhead = 5;

enum HexRecordType : uint8_t {
    kDataRecord = 0x00,
    kEndOfFileRecord = 0x01,
    kExtendedSegmentRecord = 0x02,
    kStartSegmentRecord = 0x03,
    kExtendedLinearRecord = 0x04,
    kStartLinearRecord = 0x05,
};
