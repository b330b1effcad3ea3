// Definitions of the process-wide content and its load.
#include "content/content_globals.h"

PropertiesContainer unitProperties;
PropertiesContainer updaterProperties;
CHexManager applicationImage;
CBinManager flashImage(kFlashImageOrigin);

void loadPropertiesAndImages() {
    updaterProperties.loadProperties(L"UPDATER");
    unitProperties.loadProperties(L"UNIT");
    applicationImage.loadApplication(kApplicationResource);
    flashImage.loadFromResource(kFlashResource);
}
