// The programs' start-up load: the UI strings, then the embedded properties and images.
#pragma once

// Loads, in order: UI strings, UPDATER, UNIT, the HEX image, the flash image. Main thread only,
// before other threads start. Missing items leave their holder empty.
void loadEmbeddedContent();
