// The one JSON document a --json command prints on standard output.
#pragma once

#include <nlohmann/json.hpp>

// Two-space indentation; bytes that are not UTF-8 are replaced rather than failing.
void printJsonDocument(const nlohmann::json& document);
