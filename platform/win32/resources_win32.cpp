// Embedded content (Windows): resources of the program's own module.
#include <windows.h>

#include "platform/resources.h"

namespace platform {

bool findResource(const wchar_t* name, const wchar_t* type, ResourceBytes& out) {
    HRSRC found = FindResourceW(nullptr, name, type);
    if (!found) return false;
    HGLOBAL loaded = LoadResource(nullptr, found);
    if (!loaded) return false;
    const void* bytes = LockResource(loaded);
    if (!bytes) return false;
    out.data = static_cast<const unsigned char*>(bytes);
    out.size = SizeofResource(nullptr, found);
    return true;
}

}  // namespace platform
