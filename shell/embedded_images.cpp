// The content flags and the Overwrite defaults that follow from them.
#include "shell/embedded_images.h"

#include "bootloader/update_sequence.h"
#include "content/content_globals.h"

bool hexImagePresent = false;
bool flashImagePresent = false;

namespace {

constexpr uint8_t kDataRecordType = 0x00;
// Count, address (two bytes), type, checksum.
constexpr uint16_t kRecordFrameBytes = 5;

// A HEX text of only an end-of-file record, or one that failed to load, programs nothing.
bool hasDataRecord(CHexManager& image) {
    uint8_t record[CHexManager::kMaxRecordBytes];
    image.rewind();
    bool found = false;
    for (uint16_t length; !found && (length = image.nextRecord(record, sizeof record)) != 0;) {
        found = length > kRecordFrameBytes && record[3] == kDataRecordType;
    }
    image.rewind();
    return found;
}

}  // namespace

bool checkEmbeddedImages() {
    applicationImage.loadApplication(L"P32_APPLICATION");
    flashImage.loadFromResource(L"P32_FLASH");
    hexImagePresent = hasDataRecord(applicationImage);
    flashImagePresent = flashImage.imageSize() > 0;
    updateOptions.overwriteServerFirmware = hexImagePresent ? 1 : 0;
    updateOptions.overwriteServerUi = flashImagePresent ? 1 : 0;
    updateOptions.overwriteFactoryDefaults = 0;
    return hexImagePresent || flashImagePresent;
}
