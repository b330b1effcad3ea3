// UTF-8 and byte-wise conversions without OS calls.
#include "platform/text.h"

#include <cstdint>

namespace platform {

namespace {

// UTF-8: a lead byte gives its sequence's length in its top bits (110, 1110 or 11110); each
// continuation byte, 10xxxxxx, carries six bits of the code point.
constexpr uint32_t kContinuationTag = 0x80;
constexpr uint32_t kContinuationTagMask = 0xC0;
constexpr uint32_t kContinuationBits = 6;
constexpr uint32_t kContinuationPayload = 0x3F;
constexpr uint32_t kTwoByteLead = 0xC0;
constexpr uint32_t kThreeByteLead = 0xE0;
constexpr uint32_t kFourByteLead = 0xF0;
constexpr uint32_t kPastFourByteLead = 0xF8;
constexpr uint32_t kFourByteLeadPayload = 0x07;
// Shifted right by the sequence's length, the lead byte's own code-point bits.
constexpr uint32_t kLeadPayload = 0x7F;
// The first code points that take two, three and four bytes.
constexpr uint32_t kFirstTwoByte = 0x80;
constexpr uint32_t kFirstThreeByte = 0x800;
constexpr uint32_t kFirstFourByte = 0x10000;

// UTF-16: a code point past the basic plane is a high then a low surrogate, ten bits each.
constexpr uint32_t kFirstSupplementary = 0x10000;
constexpr uint32_t kFirstHighSurrogate = 0xD800;
constexpr uint32_t kFirstLowSurrogate = 0xDC00;
constexpr uint32_t kPastLowSurrogate = 0xE000;
constexpr uint32_t kSurrogateBits = 10;
constexpr uint32_t kSurrogatePayload = 0x3FF;

char continuationByte(uint32_t c, uint32_t shift) {
    return static_cast<char>(kContinuationTag | ((c >> shift) & kContinuationPayload));
}

void appendUtf8(std::string& out, uint32_t c) {
    if (c < kFirstTwoByte) {
        out += static_cast<char>(c);
    } else if (c < kFirstThreeByte) {
        out += static_cast<char>(kTwoByteLead | (c >> kContinuationBits));
        out += continuationByte(c, 0);
    } else if (c < kFirstFourByte) {
        out += static_cast<char>(kThreeByteLead | (c >> (2 * kContinuationBits)));
        out += continuationByte(c, kContinuationBits);
        out += continuationByte(c, 0);
    } else {
        out += static_cast<char>(kFourByteLead | ((c >> (3 * kContinuationBits)) & kFourByteLeadPayload));
        out += continuationByte(c, 2 * kContinuationBits);
        out += continuationByte(c, kContinuationBits);
        out += continuationByte(c, 0);
    }
}

void appendWide(std::wstring& out, uint32_t c) {
    if (sizeof(wchar_t) == 2 && c >= kFirstSupplementary) {
        c -= kFirstSupplementary;
        out += static_cast<wchar_t>(kFirstHighSurrogate + (c >> kSurrogateBits));
        out += static_cast<wchar_t>(kFirstLowSurrogate + (c & kSurrogatePayload));
    } else {
        out += static_cast<wchar_t>(c);
    }
}

// Length of the sequence a lead byte starts; 1 for ASCII and for bytes that cannot lead.
size_t sequenceLength(unsigned char lead) {
    if (lead >= kFourByteLead && lead < kPastFourByteLead) return 4;
    if (lead >= kThreeByteLead) return lead < kFourByteLead ? 3 : 1;
    if (lead >= kTwoByteLead) return 2;
    return 1;
}

bool isContinuation(char byte) { return (static_cast<unsigned char>(byte) & kContinuationTagMask) == kContinuationTag; }

// A wide code unit as a number: UTF-16 on Windows, UTF-32 elsewhere.
uint32_t codeUnit(wchar_t unit) {
    return static_cast<uint32_t>(unit);  // NOLINT(bugprone-signed-char-misuse): wchar_t holds code units, not bytes
}

}  // namespace

std::string toUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = codeUnit(text[i]);
        bool highSurrogate = sizeof(wchar_t) == 2 && c >= kFirstHighSurrogate && c < kFirstLowSurrogate;
        if (highSurrogate && i + 1 < text.size()) {
            uint32_t low = codeUnit(text[i + 1]);
            if (low >= kFirstLowSurrogate && low < kPastLowSurrogate) {
                c = kFirstSupplementary + ((c - kFirstHighSurrogate) << kSurrogateBits) + (low - kFirstLowSurrogate);
                ++i;
            }
        }
        appendUtf8(out, c);
    }
    return out;
}

// Malformed sequences come through byte by byte rather than being dropped.
std::wstring fromUtf8(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t length = sequenceLength(lead);
        bool complete = length > 1 && i + length <= text.size();
        for (size_t k = 1; complete && k < length; ++k) {
            complete = isContinuation(text[i + k]);
        }
        if (!complete) {
            appendWide(out, lead);
            ++i;
            continue;
        }
        uint32_t c = lead & (kLeadPayload >> length);
        for (size_t k = 1; k < length; ++k) {
            c = (c << kContinuationBits) | (static_cast<unsigned char>(text[i + k]) & kContinuationPayload);
        }
        appendWide(out, c);
        i += length;
    }
    return out;
}

std::wstring widenBytes(std::string_view bytes) {
    std::wstring out(bytes.size(), L'\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        out[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]));
    }
    return out;
}

}  // namespace platform
