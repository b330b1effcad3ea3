#include <gtest/gtest.h>

#include <string>

#include "ui/ui_strings.h"
#include "ui/worker_messages.h"

TEST(UiStrings, LoadedTextsAndStatusLine) {
    loadUiStrings();
    EXPECT_STREQ(uiString(static_cast<UiStringId>(154)), L"Progress: %s");
    EXPECT_STREQ(uiString(static_cast<UiStringId>(110)), L"FWUPDATER");
    EXPECT_STREQ(uiString(static_cast<UiStringId>(9999)), L"");
    EXPECT_EQ(formatStatus(L"Idle"), L"Progress: Idle");
}
