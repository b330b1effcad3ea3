// The content flags and the Overwrite defaults that follow from them.
#include "shell/embedded_images.h"

#include "bootloader/update_sequence.h"
#include "platform/resources.h"

bool hexImagePresent = false;
bool flashImagePresent = false;

bool checkEmbeddedImages() {
    platform::ResourceBytes bytes;
    hexImagePresent = platform::findResource(L"P32_APPLICATION", L"HEX", bytes);
    flashImagePresent = platform::findResource(L"P32_FLASH", L"BIN", bytes);
    updateOptions.overwriteServerFirmware = hexImagePresent ? 1 : 0;
    updateOptions.overwriteServerUi = flashImagePresent ? 1 : 0;
    updateOptions.overwriteFactoryDefaults = 0;
    return hexImagePresent || flashImagePresent;
}
