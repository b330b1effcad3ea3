#include "tests/support/frames.h"

#include "bootloader/frame_codec.h"

Bytes wireFrame(const Bytes& message) {
    uint8_t out[kFrameBufferSize];
    size_t n = encodeFrame(message.data(), message.size(), out, sizeof out);
    return Bytes(out, out + n);
}

Bytes messageOf(const Bytes& frame) {
    FrameDecoder decoder;
    decoder.feed(frame.data(), frame.size());
    if (!decoder.frameComplete()) return {};
    return Bytes(decoder.body(), decoder.body() + decoder.count() - 2);
}

uint32_t sequenceOf(const Bytes& frame) {
    Bytes m = messageOf(frame);
    if (m.size() < 5) return 0;
    return (uint32_t{m[1]} << 24) | (uint32_t{m[2]} << 16) | (uint32_t{m[3]} << 8) | m[4];
}

Bytes replyFrameWithSequence(const Bytes& request, uint32_t sequence, const Bytes& payload) {
    Bytes m = messageOf(request);
    Bytes reply = {m.at(0)};
    if (m[0] & 0x80) {
        reply.push_back(static_cast<uint8_t>(sequence >> 24));
        reply.push_back(static_cast<uint8_t>(sequence >> 16));
        reply.push_back(static_cast<uint8_t>(sequence >> 8));
        reply.push_back(static_cast<uint8_t>(sequence));
    }
    reply.insert(reply.end(), payload.begin(), payload.end());
    return wireFrame(reply);
}

Bytes replyFrame(const Bytes& request, const Bytes& payload) {
    return replyFrameWithSequence(request, sequenceOf(request), payload);
}
