// Property texts: any bytes load or fail cleanly, and every key found by the load answers get
// with a value of bounded length.
#include <cwchar>

#include "content/properties_container.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PropertiesContainer properties;
    properties.loadFromBytes(data, size);
    properties.loadFromBytes(data, size);
    for (const wchar_t* key : {L"announce-model", L"server-fw-version", L"error-message.NoResponse", L""}) {
        const wchar_t* value = properties.get(key);
        if (value) FUZZ_CHECK(std::wcslen(value) <= PropertiesContainer::kMaxFieldChars);
        FUZZ_CHECK(properties.getOrEmpty(key) != nullptr);
        const PropertyEntry* entry = properties.find(key);
        FUZZ_CHECK(entry != nullptr || value == nullptr);
    }
    return 0;
}
