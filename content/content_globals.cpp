// Definitions of the process-wide content and its start-up load.
#include "content/content_globals.h"

#include "ui/ui_strings.h"

PropertiesContainer unitProperties;
PropertiesContainer updaterProperties;
CHexManager applicationImage;
CBinManager flashImage(kFlashImageOrigin);

void loadEmbeddedContent() {
    loadUiStrings();
    updaterProperties.loadProperties(L"UPDATER");
    unitProperties.loadProperties(L"UNIT");
    applicationImage.loadApplication(kApplicationResource);
    flashImage.loadFromResource(kFlashResource);
}
