// Key = value texts: the unit's and the updater's property stores.
#pragma once

#include <string>

#include "content/loadable_text.h"

struct PropertyEntry {
    PropertyEntry* next = nullptr;
    std::wstring key;
    std::wstring value;
    // False only for an entry added with a null value; get then yields null.
    bool hasValue = true;
};

// Filled on the main thread at start-up, read-only afterwards; lookups need no lock then.
// Loads add to what is stored (reset keeps everything), and the first definition of a key wins.
class PropertiesContainer : public LoadableText {
public:
    // Longest key or value kept; a line whose key or value is longer after parsing is skipped.
    static constexpr size_t kMaxFieldChars = 511;

    PropertiesContainer() = default;
    ~PropertiesContainer() override;

    int parseLine(const wchar_t* line) override;

    // loadFromResource with the type "PROPERTIES".
    int loadProperties(const wchar_t* name);
    // Keeps copies; nothing happens when the key is already stored. value may be null.
    void add(const wchar_t* key, const wchar_t* value);
    // Whole-key, case-sensitive match; null when missing.
    const PropertyEntry* find(const wchar_t* key) const;
    // The value, or null when the key is missing. Valid for the container's life.
    const wchar_t* get(const wchar_t* key) const;
    // The value, or "" when the key is missing.
    const wchar_t* getOrEmpty(const wchar_t* key) const;

private:
    PropertyEntry* head_ = nullptr;
};
