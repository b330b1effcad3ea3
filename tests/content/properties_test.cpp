#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "content/properties_container.h"
#include "tests/support/scratch_dir.h"
#include "text_bytes.h"

TEST(PropertiesParse, BlanksAroundEqualsAndSplitAtFirstEquals) {
    PropertiesContainer store;
    ASSERT_EQ(loadText(store, "build-version\t\t= V1.12\r\n  spaced key \t=\t a=b = c \t\r\n"), 1);
    EXPECT_STREQ(store.get(L"build-version"), L"V1.12");
    EXPECT_STREQ(store.get(L"spaced key"), L"a=b = c");
}

TEST(PropertiesParse, MissingValueAndMissingEqualsGiveEmptyValue) {
    PropertiesContainer store;
    ASSERT_EQ(loadText(store, "ends-here=\r\nno equals at all\r\n"), 1);
    EXPECT_STREQ(store.get(L"ends-here"), L"");
    EXPECT_STREQ(store.get(L"no equals at all"), L"");
}

TEST(PropertiesParse, OnlyBackslashNBecomesLineFeed) {
    PropertiesContainer store;
    ASSERT_EQ(loadText(store, "k = one\\ntwo\\tthree\\\r\n"), 1);
    EXPECT_STREQ(store.get(L"k"), L"one\ntwo\\tthree\\");
}

TEST(PropertiesLookup, FirstDefinitionWinsAndCaseMatters) {
    PropertiesContainer store;
    ASSERT_EQ(loadText(store, "model = first\nmodel = second\n"), 1);
    store.add(L"model", L"third");
    EXPECT_STREQ(store.get(L"model"), L"first");
    EXPECT_EQ(store.get(L"Model"), nullptr);
    EXPECT_STREQ(store.getOrEmpty(L"Model"), L"");
    EXPECT_EQ(store.find(L"mode"), nullptr);
}

TEST(PropertiesLookup, NullValueIsKeptAsNull) {
    PropertiesContainer store;
    store.add(L"key", nullptr);
    EXPECT_NE(store.find(L"key"), nullptr);
    EXPECT_EQ(store.get(L"key"), nullptr);
    EXPECT_STREQ(store.getOrEmpty(L"key"), L"");
}

TEST(PropertiesLoad, UnterminatedLastLineIsNotStored) {
    PropertiesContainer store;
    ASSERT_EQ(loadText(store, "a = 1\r\n\r\n\nb = 2"), 1);
    EXPECT_STREQ(store.get(L"a"), L"1");
    EXPECT_EQ(store.get(L"b"), nullptr);
}

TEST(PropertiesLoad, OverlongLineAbortsAndOverlongFieldIsSkipped) {
    PropertiesContainer store;
    std::string longLine = "k = " + std::string(1020, 'x') + "\n";
    EXPECT_EQ(loadText(store, "a = 1\n" + longLine + "b = 2\n"), 0);
    EXPECT_STREQ(store.get(L"a"), L"1");
    EXPECT_EQ(store.get(L"b"), nullptr);

    PropertiesContainer fields;
    std::string text = "v = " + std::string(512, 'y') + "\n" + std::string(512, 'k') + " = 1\n" +
                       "w = " + std::string(511, 'z') + "\nafter = ok\n";
    ASSERT_EQ(loadText(fields, text), 1);
    EXPECT_EQ(fields.get(L"v"), nullptr);
    EXPECT_EQ(fields.get(std::wstring(512, L'k').c_str()), nullptr);
    EXPECT_EQ(std::wstring(fields.getOrEmpty(L"w")).size(), 511u);
    EXPECT_STREQ(fields.get(L"after"), L"ok");

    // The longest line accepted holds the longest key and value kept.
    PropertiesContainer widest;
    ASSERT_EQ(loadText(widest, std::string(511, 'k') + "=" + std::string(511, 'v') + "\n"), 1);
    EXPECT_EQ(std::wstring(widest.getOrEmpty(std::wstring(511, L'k').c_str())), std::wstring(511, L'v'));
}

TEST(PropertiesLoad, FileLinesCountEvenWithoutFinalLineEnd) {
    ScratchDir scratch;
    const auto path = scratch.file("unit.properties");
    {
        std::ofstream file(path, std::ios::binary);
        file << "a = 1\nb = 2";
    }
    PropertiesContainer store;
    EXPECT_EQ(store.loadFromFile(path), 1);
    EXPECT_STREQ(store.get(L"b"), L"2");
    std::filesystem::remove(path);
    EXPECT_EQ(store.loadFromFile(path), 0);
}

TEST(EmbeddedProperties, UnitKeys) {
    PropertiesContainer unit;
    ASSERT_EQ(unit.loadProperties(L"UNIT"), 1);
    EXPECT_STREQ(unit.get(L"model"), L"ZT Series");
    EXPECT_STREQ(unit.get(L"announce-model"), L"ZT Series");
    EXPECT_STREQ(unit.get(L"build-version"), L"V1.12");
    EXPECT_STREQ(unit.get(L"server-ui-version"), L"V1.12");
    EXPECT_STREQ(unit.get(L"server-fw-version"), L"V1.12");
    EXPECT_STREQ(unit.get(L"server-hw-version"), L"V1.5");
    EXPECT_EQ(unit.get(L"core-hw-version"), nullptr);
    EXPECT_EQ(unit.get(L"core-fw-version"), nullptr);
    EXPECT_STREQ(unit.get(L"help-message.Unit Preparation.1"),
                 L"The ZT Series can be put into booloader mode via:\n\n  Internal jumper J2\n"
                 L"  The \"Force Bootload\" button on this utility.");
    EXPECT_EQ(unit.get(L"help-message.Unit Preparation.2"), nullptr);

    // A second load of the same text finds every key stored already.
    ASSERT_EQ(unit.loadProperties(L"UNIT"), 1);
    EXPECT_STREQ(unit.get(L"model"), L"ZT Series");
    EXPECT_EQ(unit.loadProperties(L"NO_SUCH_TEXT"), 0);
    EXPECT_STREQ(unit.get(L"build-version"), L"V1.12");
}

TEST(EmbeddedProperties, UpdaterKeys) {
    PropertiesContainer updater;
    ASSERT_EQ(updater.loadProperties(L"UPDATER"), 1);
    EXPECT_STREQ(updater.get(L"update-warning"),
                 L"Only perform an update if the firmware version on your unit is lower than the "
                 L"update version.");
    EXPECT_STREQ(updater.get(L"error-message.WrongResponse"),
                 L"Received incorrect response from unit.\n  * Check this is the correct model.\n"
                 L"  * Check bootloader is active.\n");
    EXPECT_STREQ(updater.get(L"error-message.NoResponse"),
                 L"Received no response from unit.\n  * Check this is the correct port and baud "
                 L"rate.\n  * Check the network cable is connected correctly.");
    std::wstring noHex = updater.getOrEmpty(L"error-message.NoHexFile");
    EXPECT_EQ(noHex.rfind(L"No application specified in this build. The unit cannot be programmed."
                          L"\n  Contact: ",
                          0),
              0u);
    EXPECT_STREQ(updater.get(L"help-message.Updater Instructions.1"),
                 L"The ZT Series firmware can be updated via either the RS232 port or the Ethernet "
                 L"port.\nDuring the update process, only one of these should be connected.");
    EXPECT_STREQ(updater.get(L"help-message.Updater Instructions.7"),
                 L"Once the update is complete, the unit should reset with the new firmware in "
                 L"place.");
    int pages = 0;
    while (*updater.getOrEmpty((L"help-message.Updater Instructions." + std::to_wstring(pages + 1)).c_str())) {
        ++pages;
    }
    EXPECT_EQ(pages, 7);
}
