// Start-up sits above content/ and ui/, so that neither has to include the other to load.
#include "startup/embedded_content.h"

#include "content/content_globals.h"
#include "ui/ui_strings.h"

void loadEmbeddedContent() {
    loadUiStrings();
    loadPropertiesAndImages();
}
