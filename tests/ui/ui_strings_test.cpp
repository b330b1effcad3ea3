#include <gtest/gtest.h>

#include <string>

#include "ui/ui_strings.h"
#include "ui/worker_messages.h"

TEST(UiStrings, LoadedTextsAndStatusLine) {
    loadUiStrings();
    EXPECT_STREQ(uiString(154), L"Progress: %s");
    EXPECT_STREQ(uiString(110), L"FWUPDATER");
    EXPECT_STREQ(uiString(9999), L"");
    EXPECT_EQ(formatStatus(L"Idle"), L"Progress: Idle");
}
