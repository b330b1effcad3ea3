// Embedded content (portable build): a lookup in the table generated at build time.
#include <cwchar>

#include "platform/resources.h"

namespace platform {

bool findResource(const wchar_t* name, const wchar_t* type, ResourceBytes& out) {
    for (unsigned i = 0; i < embeddedResourceCount; ++i) {
        const EmbeddedResource& item = embeddedResources[i];
        if (std::wcscmp(item.name, name) == 0 && std::wcscmp(item.type, type) == 0) {
            out.data = item.data;
            out.size = item.size;
            return true;
        }
    }
    return false;
}

}  // namespace platform
