// Parsing of one "key = value" line and the singly linked store.
#include "content/properties_container.h"

#include <cwchar>
#include <string_view>

namespace {

std::wstring_view trimBlanks(std::wstring_view text) {
    constexpr wchar_t kBlanks[] = L" \t";
    size_t first = text.find_first_not_of(kBlanks);
    if (first == std::wstring_view::npos) return {};
    size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

// Backslash-n becomes a line feed; every other backslash sequence stays as written.
std::wstring unescapeValue(std::wstring_view raw) {
    std::wstring value;
    value.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == L'\\' && i + 1 < raw.size() && raw[i + 1] == L'n') {
            value += L'\n';
            ++i;
        } else {
            value += raw[i];
        }
    }
    return value;
}

}  // namespace

PropertiesContainer::~PropertiesContainer() {
    while (head_) {
        PropertyEntry* next = head_->next;
        delete head_;
        head_ = next;
    }
}

// File lines keep their line end, so the text stops at the first CR or LF as well.
int PropertiesContainer::parseLine(const wchar_t* line) {
    std::wstring_view text(line);
    text = text.substr(0, text.find_first_of(L"\r\n"));
    size_t equals = text.find(L'=');
    std::wstring_view key = trimBlanks(text.substr(0, equals));
    std::wstring_view rawValue = equals == std::wstring_view::npos ? std::wstring_view{} : text.substr(equals + 1);
    std::wstring value(trimBlanks(unescapeValue(rawValue)));
    if (key.size() > kMaxFieldChars || value.size() > kMaxFieldChars) return 1;
    add(std::wstring(key).c_str(), value.c_str());
    return 1;
}

int PropertiesContainer::loadProperties(const wchar_t* name) { return loadFromResource(name, L"PROPERTIES"); }

void PropertiesContainer::add(const wchar_t* key, const wchar_t* value) {
    if (find(key)) return;
    PropertyEntry* entry = new PropertyEntry;
    entry->key = key;
    entry->value = value ? value : L"";
    entry->hasValue = value != nullptr;
    entry->next = head_;
    head_ = entry;
}

const PropertyEntry* PropertiesContainer::find(const wchar_t* key) const {
    for (const PropertyEntry* entry = head_; entry; entry = entry->next) {
        if (entry->key == key) return entry;
    }
    return nullptr;
}

const wchar_t* PropertiesContainer::get(const wchar_t* key) const {
    const PropertyEntry* entry = find(key);
    return entry && entry->hasValue ? entry->value.c_str() : nullptr;
}

const wchar_t* PropertiesContainer::getOrEmpty(const wchar_t* key) const {
    const wchar_t* value = get(key);
    return value ? value : L"";
}
