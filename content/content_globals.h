// The process-wide content: property stores and images, built before the entry point.
#pragma once

#include "content/bin_manager.h"
#include "content/hex_manager.h"
#include "content/properties_container.h"

// The embedded images' resource names.
constexpr const wchar_t* kApplicationResource = L"P32_APPLICATION";
constexpr const wchar_t* kFlashResource = L"P32_FLASH";

// Address of the flash image's first byte in the unit.
constexpr uint32_t kFlashImageOrigin = 0x40000;

extern PropertiesContainer unitProperties;
extern PropertiesContainer updaterProperties;
extern CHexManager applicationImage;
extern CBinManager flashImage;

// Loads UPDATER, UNIT, the HEX image and the flash image, in that order; start-up calls it
// (startup/embedded_content.h). Main thread only, before other threads start. Missing items
// leave their holder empty.
void loadPropertiesAndImages();
