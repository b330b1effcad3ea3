// The identification text a bootloader returns for command 13, as serial discovery reads it.
//
//   line 1 CR x, line 2 CR x, line 3 = <prefixLength characters> " - Bootload" [CR ...]
// where x is the byte after each CR (normally LF) and is skipped unread.
#pragma once

#include <cstddef>
#include <cstdint>

// True when line 3 exists and holds exactly " - Bootload" after its first prefixLength
// characters. The model name itself is not compared on this path. Never reads past `length`.
bool isBootloadIdentification(const uint8_t* text, size_t length, size_t prefixLength);
