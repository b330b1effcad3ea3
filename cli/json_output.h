// The one JSON document a --json command prints on standard output, and the check that what
// was printed there arrived.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

// The value, or null where it is not known.
nlohmann::json orNull(const std::optional<std::string>& value);

// Two-space indentation; bytes that are not UTF-8 are replaced rather than failing.
void printJsonDocument(const nlohmann::json& document);

// The error a --json run would report if it ended without its document: kind "usage" (the
// command line), "refused" (an input the command refused) or another the caller names.
void noteError(const std::string& kind, const std::string& message);
// With --json, a run that ends with a non-zero status and printed no document prints
// {"error": {"kind": ..., "message": ...}}, so that standard output always holds one.
void printErrorDocumentIfNone(int status);

// Flushes standard output. False, with the reason, when something printed there was lost (a
// full disk, a device error); true when all of it arrived, or when its reader closed the pipe
// and wanted no more (`ztupdate ... | head -1`).
bool standardOutputDelivered(std::string& reason);
