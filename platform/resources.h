// Embedded content: the program's own resources looked up by name and type.
#pragma once

#include <cstddef>

namespace platform {

struct ResourceBytes {
    const unsigned char* data = nullptr;
    size_t size = 0;
};

// Finds an item of the program's own module. The bytes stay valid for the life of the process.
bool findResource(const wchar_t* name, const wchar_t* type, ResourceBytes& out);

// The table that portable builds generate from the content files (tools/embed_resources.py).
struct EmbeddedResource {
    const wchar_t* name;
    const wchar_t* type;
    const unsigned char* data;
    unsigned long size;
};
extern const EmbeddedResource embeddedResources[];
extern const unsigned embeddedResourceCount;

}  // namespace platform
