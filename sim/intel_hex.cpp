// Intel HEX records as the simulated unit interprets them.
#include "sim/intel_hex.h"

#include "bootloader/byte_order.h"

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool decodeHexLine(const std::string& line, std::vector<uint8_t>& bytes) {
    if (line.empty() || line[0] != ':' || line.size() % 2 == 0) return false;
    bytes.clear();
    for (size_t i = 1; i + 1 < line.size(); i += 2) {
        int high = hexDigit(line[i]);
        int low = hexDigit(line[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return true;
}

void appendHexByte(std::string& text, uint8_t b) {
    static const char kDigits[] = "0123456789ABCDEF";
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
}

void appendRecord(std::string& text, uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> body = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                                 static_cast<uint8_t>(address & 0xFF), type};
    body.insert(body.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : body) sum = static_cast<uint8_t>(sum + b);
    body.push_back(static_cast<uint8_t>(-sum));
    text += ':';
    for (uint8_t b : body) appendHexByte(text, b);
    text += "\r\n";
}

}  // namespace

const char* recordResultName(RecordResult result) {
    switch (result) {
        case RecordResult::Ok: return "ok";
        case RecordResult::Truncated: return "truncated record";
        case RecordResult::BadChecksum: return "bad record checksum";
        case RecordResult::BadLength: return "bad record length";
        case RecordResult::UnknownType: return "unknown record type";
    }
    return "?";
}

void HexRecordWriter::restart() {
    base_ = 0;
    endSeen_ = false;
}

RecordResult HexRecordWriter::apply(const uint8_t* bytes, size_t available, size_t& used) {
    if (available < kRecordOverhead) return RecordResult::Truncated;
    size_t size = kRecordOverhead + bytes[kRecordCountOffset];
    if (available < size) return RecordResult::Truncated;
    used = size;
    uint8_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    if (sum != 0) return RecordResult::BadChecksum;

    uint8_t count = bytes[kRecordCountOffset];
    uint16_t offset = get16MsbFirst(bytes + kRecordAddressOffset);
    const uint8_t* data = bytes + kRecordDataOffset;
    switch (bytes[kRecordTypeOffset]) {
        case kDataRecord:
            for (uint8_t i = 0; i < count; ++i) {
                // Offsets wrap inside the 64 KB segment, as the format defines.
                uint32_t address = base_ + static_cast<uint16_t>(offset + i);
                if (!memory_.write(address, data[i])) ++conflicts_;
            }
            return RecordResult::Ok;
        case kEndOfFileRecord: endSeen_ = true; return RecordResult::Ok;
        case kExtendedSegmentRecord:
            if (count != 2) return RecordResult::BadLength;
            base_ = static_cast<uint32_t>((data[0] << 8) | data[1]) << 4;
            return RecordResult::Ok;
        case kExtendedLinearRecord:
            if (count != 2) return RecordResult::BadLength;
            base_ = static_cast<uint32_t>((data[0] << 8) | data[1]) << 16;
            return RecordResult::Ok;
        case kStartSegmentRecord:
        case kStartLinearRecord: return count == 4 ? RecordResult::Ok : RecordResult::BadLength;
        default: return RecordResult::UnknownType;
    }
}

bool loadHexText(const std::string& text, SparseMemory& memory, std::string& error) {
    HexRecordWriter writer(memory);
    std::vector<uint8_t> bytes;
    size_t lineNumber = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (line.empty()) continue;
        size_t used = 0;
        RecordResult result = RecordResult::BadLength;
        if (decodeHexLine(line, bytes)) result = writer.apply(bytes.data(), bytes.size(), used);
        if (result == RecordResult::Ok && used != bytes.size()) result = RecordResult::BadLength;
        if (result != RecordResult::Ok) {
            error = "line " + std::to_string(lineNumber) + ": " + recordResultName(result);
            return false;
        }
        if (writer.endSeen()) return true;
    }
    return true;
}

std::string formatHexText(const SparseMemory& memory) {
    std::string text;
    std::vector<uint8_t> pending;
    uint32_t pendingStart = 0;
    uint32_t upperWord = 0;
    bool upperWritten = false;
    auto flush = [&]() {
        if (pending.empty()) return;
        if (!upperWritten || (pendingStart >> 16) != upperWord) {
            upperWord = pendingStart >> 16;
            upperWritten = true;
            appendRecord(text, kExtendedLinearRecord, 0,
                         {static_cast<uint8_t>(upperWord >> 8), static_cast<uint8_t>(upperWord)});
        }
        appendRecord(text, kDataRecord, static_cast<uint16_t>(pendingStart), pending);
        pending.clear();
    };
    memory.forEach([&](uint32_t address, uint8_t value) {
        bool continues = !pending.empty() && address == pendingStart + pending.size() && pending.size() < 16 &&
                         (address >> 16) == (pendingStart >> 16);
        if (!continues) {
            flush();
            pendingStart = address;
        }
        pending.push_back(value);
    });
    flush();
    text += ":00000001FF\r\n";
    return text;
}
