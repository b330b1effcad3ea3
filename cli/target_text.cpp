// Unit names as typed: checked, classified and echoed safely; units files and earlier results
// read from their bytes.
#include "cli/target_text.h"

#include <algorithm>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "cli/run_result.h"
#include "discovery/discovery_formats.h"
#include "platform/serial_names.h"
#include "platform/sockets.h"
#include "platform/text.h"

namespace {

constexpr char kDigits[] = "0123456789";
constexpr char kDigitsAndDots[] = "0123456789.";
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// One character of UTF-8 text: its code point and its length in bytes. Length 0 for a byte that
// starts no well-formed sequence: a stray continuation, an overlong form, a surrogate, a code
// point past U+10FFFF, or a sequence cut short.
struct Decoded {
    char32_t c;
    size_t length;
};

Decoded decodeAt(std::string_view text, size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return {lead, 1};
    size_t length = 0;
    char32_t c = 0;
    char32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
        least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
        least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
        least = 0x10000;
    } else {
        return {lead, 0};
    }
    if (text.size() - at < length) return {lead, 0};
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80) return {lead, 0};
        c = (c << 6) | (next & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {lead, 0};
    return {c, length};
}

// C0, DEL and C1: a terminal acts on them rather than showing them.
bool isControl(char32_t c) { return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0); }

// Characters that show as nothing or turn the text around: zero-width ones, direction marks and
// overrides, line and paragraph separators, the byte-order mark.
bool isInvisible(char32_t c) {
    return (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x2069) || c == 0xFEFF;
}

std::string escaped(std::string_view text, size_t at, const Decoded& decoded) {
    char code[16];
    if (decoded.length == 0 || decoded.c < 0x80) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (decoded.length == 1 && byte == '\t') return "\\t";
        if (decoded.length == 1 && byte == '\n') return "\\n";
        if (decoded.length == 1 && byte == '\r') return "\\r";
        std::snprintf(code, sizeof code, "\\x%02x", byte);
    } else {
        std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(decoded.c));
    }
    return code;
}

bool holdsOnly(std::string_view text, const char* set) { return text.find_first_not_of(set) == std::string_view::npos; }

std::string asciiLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// localhost, or a DNS name: labels of letters, digits and hyphens, the last of letters only.
bool isHostName(std::string_view text) {
    std::string name = asciiLower(text);
    if (!name.empty() && name.back() == '.') name.pop_back();
    if (name == "localhost") return true;
    size_t labels = 0;
    std::string_view last;
    for (size_t at = 0; at <= name.size();) {
        const size_t end = std::min(name.find('.', at), name.size());
        const std::string_view label = std::string_view(name).substr(at, end - at);
        if (label.empty() || label.size() > 63 || !holdsOnly(label, "abcdefghijklmnopqrstuvwxyz0123456789-") ||
            label.front() == '-' || label.back() == '-') {
            return false;
        }
        ++labels;
        last = label;
        at = end + 1;
    }
    return labels >= 2 && last.size() >= 2 && std::all_of(last.begin(), last.end(), isLetter);
}

// "a number", "null", "a list": what a JSON value is, for messages.
std::string kindOf(const nlohmann::json& value) {
    switch (value.type()) {
        case nlohmann::json::value_t::null: return "null";
        case nlohmann::json::value_t::object: return "an object";
        case nlohmann::json::value_t::array: return "a list";
        case nlohmann::json::value_t::string: return "a string";
        case nlohmann::json::value_t::boolean: return "true or false";
        case nlohmann::json::value_t::binary: return "binary data";
        case nlohmann::json::value_t::discarded: return "nothing";
        default: return "a number";
    }
}

// 0.0.0.0 and the limited broadcast name no single unit; the window refuses them too.
bool namesNoSingleUnit(uint32_t address) {
    return address == platform::ipv4Address(0, 0, 0, 0) || address == platform::ipv4Address(255, 255, 255, 255);
}

bool addressTarget(const std::string& text, const std::string& where, const std::string& origin, UnitTarget& target,
                   std::string& error) {
    uint32_t address = 0;
    if (!parseIpv4(text, address)) {
        const std::string problem = networkNameProblem(text);
        error = where + ": not an IPv4 address" + (problem.empty() ? "" : " (" + problem + ")");
        return false;
    }
    if (namesNoSingleUnit(address) || !isUsableUnitAddress(address)) {
        error = where + ": this address cannot reach a unit (0.0.0.0, loopback 127.0.0.1 or a broadcast address)";
        return false;
    }
    target = {text, UnitAddress::network(address), origin};
    return true;
}

std::string tooManyUnits(const std::string& file) {
    return file + ": more than " + std::to_string(kMostUnits) + " units; one run takes at most " +
           std::to_string(kMostUnits) + ": split them over several runs";
}

}  // namespace

std::string shownText(std::string_view text, size_t maxChars) {
    std::string out;
    size_t shown = 0;
    for (size_t at = 0; at < text.size(); ++shown) {
        if (shown == maxChars) {
            out += "...";
            break;
        }
        const Decoded decoded = decodeAt(text, at);
        const size_t length = decoded.length == 0 ? 1 : decoded.length;
        if (decoded.length == 0 || isControl(decoded.c) || isInvisible(decoded.c)) {
            out += escaped(text, at, decoded);
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    return out;
}

std::string unusableNameProblem(std::string_view text) {
    if (text.empty()) return "an empty name";
    for (size_t at = 0; at < text.size();) {
        const Decoded decoded = decodeAt(text, at);
        if (decoded.length == 0) return "it holds a byte that is not UTF-8 text (" + escaped(text, at, decoded) + ")";
        if (isControl(decoded.c)) return "it holds a control character (" + escaped(text, at, decoded) + ")";
        if (isInvisible(decoded.c)) return "it holds an invisible character (" + escaped(text, at, decoded) + ")";
        at += decoded.length;
    }
    return {};
}

std::string networkNameProblem(const std::string& text) {
    if (text.empty()) return {};
    if (holdsOnly(text, kDigitsAndDots)) return "four numbers from 0 to 255, with dots between";
    // An address with a prefix length (192.0.2.10/24); any other slash makes a path.
    const size_t slash = text.find('/');
    if (slash != std::string::npos) {
        const std::string_view address = std::string_view(text).substr(0, slash);
        const std::string_view length = std::string_view(text).substr(slash + 1);
        const bool prefixLength = !address.empty() && holdsOnly(address, kDigitsAndDots) &&
                                  address.find('.') != std::string_view::npos && holdsOnly(length, kDigits);
        return prefixLength ? "a prefix length does not belong here" : "";
    }
    if (text.find('\\') != std::string::npos) return {};
    const size_t colon = text.find(':');
    if (colon != std::string::npos && colon == text.rfind(':')) {
        const std::string_view host = std::string_view(text).substr(0, colon);
        const std::string_view port = std::string_view(text).substr(colon + 1);
        const bool addressLike =
            !host.empty() && holdsOnly(host, kDigitsAndDots) && host.find('.') != std::string_view::npos;
        if (holdsOnly(port, kDigits) && (addressLike || isHostName(host))) return "a port number does not belong here";
    }
    if (std::count(text.begin(), text.end(), ':') >= 2 && holdsOnly(text, "0123456789abcdefABCDEF:.[]")) {
        return "an IPv6 address: units are reached by their IPv4 address";
    }
    if (isHostName(text)) return "a host name: ztupdate looks up no names; give the unit's IPv4 address";
    // Digits and dots with a stray character or two: a slip of the keyboard.
    size_t digits = 0;
    size_t dots = 0;
    size_t others = 0;
    std::string stray;
    for (size_t at = 0; at < text.size();) {
        const Decoded decoded = decodeAt(text, at);
        const size_t length = decoded.length == 0 ? 1 : decoded.length;
        if (text[at] >= '0' && text[at] <= '9') {
            ++digits;
        } else if (text[at] == '.') {
            ++dots;
        } else if (others++ == 0) {
            stray = shownText(std::string_view(text).substr(at, length));
        }
        at += length;
    }
    if (dots >= 2 && digits >= 4 && others >= 1 && others <= 2) return "mistyped? '" + stray + "' is not a digit";
    return {};
}

bool parseIpv4(const std::string& text, uint32_t& address) {
    uint8_t octets[4] = {};
    size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (at >= text.size() || text[at] != '.') return false;
            ++at;
        }
        size_t digits = 0;
        unsigned value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 3) {
            value = value * 10 + static_cast<unsigned>(text[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || value > 255) return false;
        octets[i] = static_cast<uint8_t>(value);
    }
    if (at != text.size()) return false;
    address = platform::ipv4Address(octets[0], octets[1], octets[2], octets[3]);
    return true;
}

bool readUnitsText(std::string_view text, const std::string& fileName, std::vector<NamedUnit>& names,
                   std::string& error) {
    names.clear();
    const std::string file = shownText(fileName, kShownWhole);
    if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
        error = file + ": UTF-16 text: save the units file as UTF-8 or plain ASCII text";
        return false;
    }
    // Notepad starts UTF-8 files with a byte-order mark.
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(sizeof kByteOrderMark - 1);
    size_t lineNumber = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find_first_of("\r\n", at), text.size());
        std::string_view line = text.substr(at, end - at);
        at = end + (text.substr(end, 2) == "\r\n" ? 2 : 1);
        ++lineNumber;
        line = line.substr(0, line.find('#'));
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos) continue;
        line = line.substr(first, line.find_last_not_of(" \t") - first + 1);
        const std::string origin = file + ":" + std::to_string(lineNumber);
        if (line.find_first_of(" \t") != std::string_view::npos) {
            error = origin + ": " + shownText(line) + ": more than one name on the line; name one unit a line";
            return false;
        }
        if (names.size() == kMostUnits) {
            error = tooManyUnits(file);
            return false;
        }
        names.push_back({std::string(line), origin});
    }
    return true;
}

bool readReportText(std::string_view text, const std::string& fileName, bool failedOnly, std::vector<NamedUnit>& names,
                    std::string& error) {
    names.clear();
    const std::string file = shownText(fileName, kShownWhole);
    const std::string where = "--units-from " + file + ": ";
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::parse_error& e) {
        error =
            where + "not a ztupdate JSON result (not JSON text: it goes wrong at byte " + std::to_string(e.byte) + ")";
        return false;
    } catch (const nlohmann::json::exception&) {
        error = where + "not a ztupdate JSON result (not JSON text: a number out of range)";
        return false;
    }
    if (!document.is_object()) {
        error = where + "not a ztupdate JSON result (" + kindOf(document) + ", not an object with a \"units\" list)";
        return false;
    }
    const auto units = document.find("units");
    if (units == document.end()) {
        error = where + "not a ztupdate JSON result (no \"units\" list)";
        return false;
    }
    if (!units->is_array()) {
        error = where + "units is " + kindOf(*units) + ", not a list";
        return false;
    }
    for (size_t i = 0; i < units->size(); ++i) {
        const nlohmann::json& unit = (*units)[i];
        const std::string key = "units[" + std::to_string(i) + "]";
        if (!unit.is_object()) {
            error = where + key + " is " + kindOf(unit) + ", not an object";
            return false;
        }
        const auto target = unit.find("target");
        if (target == unit.end()) {
            error = where + key + " has no \"target\"";
            return false;
        }
        if (!target->is_string()) {
            error = where + key + ".target is " + kindOf(*target) + ", not a string";
            return false;
        }
        const auto result = unit.find("result");
        if (result != unit.end() && !result->is_string()) {
            error = where + key + ".result is " + kindOf(*result) + ", not a string";
            return false;
        }
        if (failedOnly && result != unit.end() && isSuccess(runResultNamed(result->get_ref<const std::string&>())))
            continue;
        if (names.size() == kMostUnits) {
            error = tooManyUnits("--units-from " + file);
            return false;
        }
        names.push_back({target->get_ref<const std::string&>(), file});
    }
    return true;
}

bool targetFromName(const std::string& text, NameSource source, const std::string& origin, UnitTarget& target,
                    std::string& error) {
    const std::string shown = shownText(text);
    const std::string where = source == NameSource::kIp       ? "--ip " + shown
                              : source == NameSource::kSerial ? "--serial " + shown
                                                              : origin + ": " + shown;
    if (const std::string problem = unusableNameProblem(text); !problem.empty()) {
        error = where + ": not a usable unit name: " + problem;
        return false;
    }
    if (source == NameSource::kIp || (source == NameSource::kFile && holdsOnly(text, kDigitsAndDots))) {
        return addressTarget(text, where, origin, target, error);
    }
    uint32_t address = 0;
    if (source == NameSource::kSerial && parseIpv4(text, address)) {
        error = where + ": an IPv4 address, not a serial port: name it with --ip " + shown;
        return false;
    }
    if (const std::string problem = networkNameProblem(text); !problem.empty()) {
        error = where +
                (source == NameSource::kSerial ? ": not a serial port, and not an IPv4 address ("
                                               : ": not an IPv4 address (") +
                problem + ")";
        return false;
    }
    target = {text, UnitAddress::serialPort(platform::serialDeviceName(platform::fromUtf8(text))), origin};
    return true;
}
