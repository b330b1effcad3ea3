// Alert hook dispatch.
#include "platform/alert.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<AlertHook> installedHook{nullptr};
}

void setAlertHook(AlertHook hook) { installedHook.store(hook); }

void showAlert(const wchar_t* text, const wchar_t* caption) {
    AlertHook hook = installedHook.load();
    if (hook) {
        hook(text, caption);
    } else {
        defaultAlert(text, caption);
    }
}

}  // namespace platform
