// CRC-16/XMODEM (polynomial 0x1021, initial 0, no reflection), as the bootloader frames use it.
#pragma once

#include <cstdint>

uint16_t crc16(const uint8_t* data, uint32_t length);
