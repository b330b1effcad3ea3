// The program's string table: texts by numeric id.
#pragma once

namespace platform {

// Copies entry `id` into buffer (at most size - 1 characters and a NUL). An absent entry
// leaves the buffer empty and returns false.
bool loadStringResource(unsigned id, wchar_t* buffer, int size);

}  // namespace platform
