// Command-line arguments (Windows): the wide command line, split by the system (CommandLineToArgvW).
#include <windows.h>
#include <shellapi.h>

#include "platform/arguments.h"
#include "platform/text.h"

namespace platform {

Utf8Arguments::Utf8Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide) {
        for (int i = 0; i < count; ++i) texts_.push_back(toUtf8(wide[i]));
        LocalFree(wide);
    } else {
        texts_.assign(argv, argv + argc);
    }
    pointAtTexts();
}

}  // namespace platform
