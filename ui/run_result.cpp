// Terminal messages to the texts that report them.
#include "ui/run_result.h"

#include "content/content_globals.h"
#include "ui/ui_strings.h"
#include "ui/worker_messages.h"

RunResultText runResultText(uint32_t terminalMessage) {
    switch (terminalMessage) {
        case WMU_UPDATE_DONE: return {uiString(kUpdatedSuccessfully), uiString(kSuccessTitle), true};
        case WMU_BOOTLOAD_EXITED: return {uiString(kBootloadModeExited), uiString(kSuccessTitle), true};
        case WMU_WRONG_RESPONSE:
            return {updaterProperties.getOrEmpty(L"error-message.WrongResponse"), uiString(kErrorTitle), false};
        case WMU_NO_RESPONSE:
            return {updaterProperties.getOrEmpty(L"error-message.NoResponse"), uiString(kErrorTitle), false};
        default: return {uiString(kUpdateCouldNotComplete), uiString(kErrorTitle), false};
    }
}
