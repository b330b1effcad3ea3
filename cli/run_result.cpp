// Lookups in the one table of run results.
#include "cli/run_result.h"

#include <cstddef>
#include <iterator>

namespace {

constexpr bool rowsFollowTheEnumeration() {
    for (size_t i = 0; i < std::size(kRunResults); ++i) {
        if (static_cast<size_t>(kRunResults[i].result) != i) return false;
    }
    return true;
}
static_assert(rowsFollowTheEnumeration(), "kRunResults must list every RunResult in order");
static_assert(std::size(kRunResults) == static_cast<size_t>(RunResult::kVersionMismatch) + 1,
              "kRunResults must list every RunResult");

const RunResultRow& rowOf(RunResult result) { return kRunResults[static_cast<size_t>(result)]; }

}  // namespace

const char* jsonName(RunResult result) { return rowOf(result).jsonName; }

bool isSuccess(RunResult result) { return rowOf(result).success; }

bool mayRetry(RunResult result) { return rowOf(result).mayRetry; }

RunResult runResultNamed(std::string_view name) {
    for (const RunResultRow& row : kRunResults) {
        if (name == row.jsonName) return row.result;
    }
    return RunResult::kFailed;
}

bool isVersionSkip(RunResult result) {
    return result == RunResult::kAlreadyCurrent || result == RunResult::kNewerOnUnit;
}
