// The auxiliary dialogs' scenarios: the help pages, Version Information with its release notes,
// and About.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "resources/resource.h"
#include "tests/gui/dialog_driver.h"

int helpPages(int menuId, const wchar_t* title, int pages, const char* shotName) {
    PostMessageW(mainWindow(), WM_COMMAND, MAKEWPARAM(menuId, 0), 0);
    std::wstring first = std::wstring(title) + L": Step 1";
    return withDialog(waitDialog(first.c_str(), 30000), [&](HWND dialog) {
        screenshot(shotName);
        for (int page = 1; page <= pages; ++page) {
            std::wstring expected = std::wstring(title) + L": Step " + std::to_wstring(page);
            check(waitFor([&] { return textOf(dialog) == expected; }, 30000), expected);
            check(!itemText(dialog, IDC_HELP_TEXT).empty(), "page text shown");
            check(visible(dialog, IDC_HELP_PREVIOUS) == (page > 1), "\"<< Previous\" only after the first page");
            const wchar_t* button = page == pages ? L"Finish" : L"Next >>";
            check(itemText(dialog, IDC_HELP_NEXT) == button, std::wstring(L"button reads ") + button);
            if (page == 2) {
                command(dialog, IDC_HELP_PREVIOUS);
                std::wstring back = std::wstring(title) + L": Step 1";
                check(waitFor([&] { return textOf(dialog) == back; }, 30000), "\"<< Previous\" goes back");
                command(dialog, IDC_HELP_NEXT);
                waitFor([&] { return textOf(dialog) == expected; }, 30000);
            }
            command(dialog, IDC_HELP_NEXT);
        }
        check(gone(dialog, 30000), "Finish closes the pages");
    });
}

int versionInformation() {
    HWND window = mainWindow();
    command(window, IDC_MORE);
    return withDialog(waitDialog(L"Version Information", 30000), [&](HWND dialog) {
        const int labels[] = {IDC_ROW1_LABEL, IDC_ROW2_LABEL, IDC_ROW3_LABEL,
                              IDC_ROW4_LABEL, IDC_ROW5_LABEL, IDC_ROW6_LABEL};
        const int values[] = {IDC_ROW1_VALUE, IDC_ROW2_VALUE, IDC_ROW3_VALUE,
                              IDC_ROW4_VALUE, IDC_ROW5_VALUE, IDC_ROW6_VALUE};
        const wchar_t* expectedLabels[] = {L"Build Version:", L"Server Firmware Version:", L"Server Hardware Version:",
                                           L"Server UI Version:"};
        const wchar_t* expectedValues[] = {L"V1.12", L"V1.12", L"V1.5", L"V1.12"};
        for (int row = 0; row < 4; ++row) {
            bool shown = visible(dialog, labels[row]) && visible(dialog, values[row]);
            check(shown && itemText(dialog, labels[row]) == expectedLabels[row] &&
                      itemText(dialog, values[row]) == expectedValues[row],
                  std::wstring(L"row ") + std::to_wstring(row + 1) + L": " + expectedLabels[row] + L" " +
                      expectedValues[row]);
            bool link = GetWindowLongPtrW(GetDlgItem(dialog, labels[row]), GWLP_USERDATA) != 0;
            check(link == (row == 0),
                  std::wstring(L"row ") + std::to_wstring(row + 1) + (row == 0 ? L" is a link" : L" is no link"));
        }
        check(!visible(dialog, labels[4]) && !visible(dialog, values[4]) && !visible(dialog, labels[5]) &&
                  !visible(dialog, values[5]),
              "the last two rows stay hidden");
        RECT box{};
        GetWindowRect(GetDlgItem(dialog, labels[0]), &box);
        uint32_t hot = rgbOf(GetSysColor(COLOR_HOTLIGHT));
        check(waitFor([&] { return countColour(grab(box), hot) > 10; }, 30000),
              "the link is drawn in the hot-track colour");
        GetWindowRect(GetDlgItem(dialog, labels[1]), &box);
        check(countColour(grab(box), hot) == 0, "a row without notes is not");
        COLORREF link = GetSysColor(COLOR_HOTLIGHT), face = GetSysColor(COLOR_BTNFACE);
        int contrast = std::abs(GetRValue(link) - GetRValue(face)) + std::abs(GetGValue(link) - GetGValue(face)) +
                       std::abs(GetBValue(link) - GetBValue(face));
        std::printf("     link colour %06x on %06x\n", rgbOf(link), rgbOf(face));
        check(contrast > 200, "the link colour stands out from the button face");
        screenshot("version-information");
        command(dialog, values[0], STN_CLICKED);
        check(!waitFor([] { return findDialog(L"Notes") != nullptr; }, 1500), "clicking a value opens nothing");
        command(dialog, labels[1], STN_CLICKED);
        check(!waitFor([] { return findDialog(L"Notes") != nullptr; }, 1500),
              "clicking a label without notes opens nothing");
        command(dialog, labels[0], STN_CLICKED);
        HWND notes = waitDialog(L"Notes", 30000);
        if (notes) {
            std::wstring text = itemText(notes, IDC_NOTES_TEXT);
            check(visible(notes, IDC_NOTES_TEXT) && text.find(L"V1.12") != std::wstring::npos,
                  "the release notes are shown");
            check(text.find(L"\r\n") != std::wstring::npos, "with their line ends");
            DWORD selection = static_cast<DWORD>(SendDlgItemMessageW(notes, IDC_NOTES_TEXT, EM_GETSEL, 0, 0));
            check(LOWORD(selection) == HIWORD(selection), "the notes open with nothing selected");
            screenshot("notes");
            closeWith(notes, IDOK, 30000, "OK closes the notes");
        }
        closeWith(dialog, IDOK, 30000, "OK closes Version Information");
    });
}

int about() {
    PostMessageW(mainWindow(), WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0);
    return withDialog(waitDialog(L"About", 30000), [&](HWND dialog) {
        HWND title = GetDlgItem(dialog, IDC_ABOUT_TITLE);
        check(textOf(title) == L"Tavin Firmware Updater", "the title text");
        RECT dialogBox{}, titleBox{};
        GetWindowRect(dialog, &dialogBox);
        GetWindowRect(title, &titleBox);
        int width = titleBox.right - titleBox.left;
        int expectedLeft = (dialogBox.right - dialogBox.left + 1 - width) / 2;
        POINT client{titleBox.left, titleBox.top};
        ScreenToClient(dialog, &client);
        std::printf("     title %ldx%ld at %ld (centred would be %d)\n", titleBox.right - titleBox.left,
                    titleBox.bottom - titleBox.top, client.x, expectedLeft);
        check(client.x == expectedLeft, "the title is centred on the dialog's width");
        check(titleBox.bottom - titleBox.top >= 18, "the title is sized to a 14 pt font");
        screenshot("about");
        closeWith(dialog, IDOK, 30000, "OK closes About");
    });
}
