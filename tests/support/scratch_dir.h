// A folder of its own under the temporary folder for one test's files, removed with everything in
// it when the object goes. ctest runs tests side by side in separate processes, so a fixed name
// there is shared: this one is created exclusively, and named after the running test so that a
// folder left by a crash says whose it was.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

class ScratchDir {
public:
    ScratchDir() {
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::filesystem::path candidate =
                base / ("zt-" + runningTestName() + "-" + std::to_string(random()) + "-" + std::to_string(counter()++));
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error)) {
                path_ = candidate;
                return;
            }
            if (error) break;
        }
        ADD_FAILURE() << "no scratch folder could be made under " << base;
    }
    ~ScratchDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path file(const std::string& name) const { return path_ / name; }

private:
    static std::atomic<unsigned>& counter() {
        static std::atomic<unsigned> made{0};
        return made;
    }

    // "Suite.Test" with anything outside [A-Za-z0-9._] (a parameterised test's '/') made '_'.
    static std::string runningTestName() {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "outside-a-test";
        for (char& c : name) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_') c = '_';
        }
        return name.substr(0, 80);
    }

    std::filesystem::path path_;
};
