// The frame decoder fed the same bytes whole and in fuzzer-chosen pieces: both must decode the
// same frame, and a completed frame must carry a good CRC.
#include <cstring>

#include "bootloader/crc16.h"
#include "bootloader/frame_codec.h"
#include "fuzz/fuzz_support.h"

namespace {

struct Decoded {
    bool complete = false;
    size_t consumed = 0;
    std::vector<uint8_t> body;
};

// Feeds `stream` in pieces of the given sizes (cycled), stopping at the first frame.
Decoded decodeInPieces(const std::vector<uint8_t>& stream, const std::vector<uint8_t>& pieces) {
    FrameDecoder decoder;
    Decoded out;
    size_t next = 0;
    while (out.consumed < stream.size() && !decoder.frameComplete()) {
        size_t piece = pieces.empty() ? stream.size() : pieces[next++ % pieces.size()];
        if (piece == 0) piece = 1;
        if (piece > stream.size() - out.consumed) piece = stream.size() - out.consumed;
        const size_t used = decoder.feed(stream.data() + out.consumed, piece);
        FUZZ_CHECK(used <= piece);
        FUZZ_CHECK(decoder.count() < kReceiveLimit || !decoder.frameComplete());
        out.consumed += used;
        if (used < piece) FUZZ_CHECK(decoder.frameComplete());
    }
    out.complete = decoder.frameComplete();
    if (out.complete) out.body.assign(decoder.body(), decoder.body() + decoder.count());
    return out;
}

void checkFrame(const Decoded& decoded) {
    if (!decoded.complete) return;
    const std::vector<uint8_t>& body = decoded.body;
    FUZZ_CHECK(body.size() >= 3);
    const uint16_t received = static_cast<uint16_t>(body[body.size() - 2] | (body[body.size() - 1] << 8));
    FUZZ_CHECK(received == crc16(body.data(), static_cast<uint32_t>(body.size() - 2)));
}

// Re-encoding a decoded message must give a frame that decodes to the same body.
void checkRoundTrip(const Decoded& decoded) {
    if (!decoded.complete) return;
    std::vector<uint8_t> frame(2 * decoded.body.size() + 4);
    const size_t length = encodeFrame(decoded.body.data(), decoded.body.size() - 2, frame.data(), frame.size());
    FUZZ_CHECK(length > 0);
    frame.resize(length);
    Decoded again = decodeInPieces(frame, {});
    FUZZ_CHECK(again.complete && again.body == decoded.body && again.consumed == length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    std::vector<uint8_t> pieces = input.take(input.byte() % 8);
    std::vector<uint8_t> stream = input.take(input.remaining());

    Decoded whole = decodeInPieces(stream, {});
    Decoded chunked = decodeInPieces(stream, pieces);
    FUZZ_CHECK(whole.complete == chunked.complete);
    FUZZ_CHECK(whole.consumed == chunked.consumed);
    FUZZ_CHECK(whole.body == chunked.body);
    checkFrame(whole);
    checkRoundTrip(whole);
    return 0;
}
