// The program's command-line arguments as UTF-8, whatever the system's code page: Windows hands
// main() its arguments in the ANSI code page, which turns a file name's "Ω" into "O".
#pragma once

#include <string>
#include <vector>

namespace platform {

class Utf8Arguments {
public:
    // argc and argv as main() got them; Windows reads its wide command line instead.
    Utf8Arguments(int argc, char** argv);
    Utf8Arguments(const Utf8Arguments&) = delete;
    Utf8Arguments& operator=(const Utf8Arguments&) = delete;

    int count() const { return static_cast<int>(texts_.size()); }
    // argv-style, pointing into this object's texts, ended by a null pointer.
    char** values() { return pointers_.data(); }

private:
    void pointAtTexts() {
        for (std::string& text : texts_) pointers_.push_back(text.data());
        pointers_.push_back(nullptr);
    }

    std::vector<std::string> texts_;
    std::vector<char*> pointers_;
};

}  // namespace platform
