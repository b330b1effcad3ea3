// Command-line arguments (POSIX): the bytes as given, which are UTF-8 in a UTF-8 locale.
#include "platform/arguments.h"

namespace platform {

Utf8Arguments::Utf8Arguments(int argc, char** argv) : texts_(argv, argv + argc) { pointAtTexts(); }

}  // namespace platform
