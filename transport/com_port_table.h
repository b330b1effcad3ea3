// The process-wide table of openable serial ports, and the rates the command-port probes walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr size_t kComPortTableSize = 255;

// 4800 to 115200, then 0 as the terminator.
extern const uint32_t baudRates[];

// Entry k is the (k+1)-th port found; entries after the last are empty. Rewritten by
// enumerateComPorts; read it directly only on the thread that calls enumerateComPorts, and
// use comPortSnapshot or comPortAt from any other thread.
extern std::wstring comPortTable[kComPortTableSize];

// Rebuilds comPortTable from the ports that can be opened right now (those held by another
// program are left out).
void enumerateComPorts();

// The names in the table, in order, copied whole at one moment.
std::vector<std::wstring> comPortSnapshot();

// Entry `index` of the table; "" for an empty entry or an index past the end.
std::wstring comPortAt(size_t index);
