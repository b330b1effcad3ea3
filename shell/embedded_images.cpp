// The content flags and the Overwrite defaults that follow from them.
#include "shell/embedded_images.h"

#include "bootloader/record_request.h"
#include "bootloader/update_sequence.h"
#include "content/content_globals.h"

bool hexImagePresent = false;
bool flashImagePresent = false;

bool checkEmbeddedImages() {
    hexImagePresent = hasDataRecords(applicationImage);
    flashImagePresent = flashImage.imageSize() > 0;
    updateOptions.overwriteServerFirmware = hexImagePresent ? 1 : 0;
    updateOptions.overwriteServerUi = flashImagePresent ? 1 : 0;
    updateOptions.overwriteFactoryDefaults = 0;
    return hexImagePresent || flashImagePresent;
}
