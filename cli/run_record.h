// What a record of a run carries beside each unit's result, so that an installer can hand it
// over: wall-clock times, the command line and digests of the carried images.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class ImageBytes;

using WallTime = std::chrono::system_clock::time_point;

// ISO 8601 with milliseconds and the local offset: "2026-12-09T04:50:12.345+01:00".
std::string isoTime(WallTime when);
WallTime wallTimeAfter(WallTime start, double seconds);

// The program's arguments, each quoted for a POSIX shell where needed. No option takes the
// PIN, so the line holds none.
std::string commandLineText(int argc, char** argv);

// SHA-256 of an Intel HEX image's data bytes in address order: the same for files that differ
// only in record sizes, record order or line ends. The image must have passed the HEX check.
std::string hexDataDigest(const ImageBytes& image);
// SHA-256 of the bytes as they are.
std::string bytesDigest(const ImageBytes& image);
