// Help pages (template 147): "prefix.1", "prefix.2", ... shown one at a time with step titles.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "content/properties_container.h"
#include "resources/resource.h"
#include "shell/dialog_font.h"
#include "shell/dialogs.h"
#include "ui/ui_strings.h"

namespace {

constexpr int kFirstPage = 1;
constexpr int kLastPage = 254;
constexpr int kTextPoints = 10;

struct HelpPage {
    std::wstring text;
    HelpPage* previous = nullptr;
    HelpPage* next = nullptr;
};

struct HelpState {
    std::wstring title;  // the part of the prefix after its last "."
    std::vector<std::unique_ptr<HelpPage>> pages;
    HelpPage* current = nullptr;
    HFONT font = nullptr;
};

std::vector<std::unique_ptr<HelpPage>> collectPages(const PropertiesContainer& properties, const std::wstring& prefix) {
    std::vector<std::unique_ptr<HelpPage>> pages;
    for (int index = kFirstPage; index <= kLastPage; ++index) {
        std::wstring key = prefix + L"." + std::to_wstring(index);
        const wchar_t* text = properties.getOrEmpty(key.c_str());
        if (!*text) break;
        auto page = std::make_unique<HelpPage>();
        page->text = text;
        if (!pages.empty()) {
            page->previous = pages.back().get();
            pages.back()->next = page.get();
        }
        pages.push_back(std::move(page));
    }
    return pages;
}

int pageNumber(const HelpState& help) {
    int number = 1;
    for (const HelpPage* page = help.current; page->previous; page = page->previous) ++number;
    return number;
}

void showPage(HWND dialog, const HelpState& help) {
    SetDlgItemTextW(dialog, IDC_HELP_TEXT, help.current->text.c_str());
    std::wstring title = help.title + uiString(kStepSeparator) + std::to_wstring(pageNumber(help));
    SetWindowTextW(dialog, title.c_str());
    ShowWindow(GetDlgItem(dialog, IDC_HELP_PREVIOUS), help.current->previous ? SW_SHOW : SW_HIDE);
    SetDlgItemTextW(dialog, IDC_HELP_NEXT, uiString(help.current->next ? kNext : kFinish));
}

void onCommand(HWND dialog, HelpState& help, WORD id) {
    switch (id) {
        case IDC_HELP_PREVIOUS:
            if (help.current->previous) {
                help.current = help.current->previous;
                showPage(dialog, help);
            }
            break;
        case IDC_HELP_NEXT:
            if (!help.current->next) {
                EndDialog(dialog, 1);
                break;
            }
            help.current = help.current->next;
            showPage(dialog, help);
            break;
        case IDCANCEL: EndDialog(dialog, 1); break;
        default: break;
    }
}

INT_PTR CALLBACK helpDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* help = reinterpret_cast<HelpState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG:
            help = reinterpret_cast<HelpState*>(lParam);
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            help->font = createPointFont(dialog, kTextPoints, FW_DONTCARE);
            if (help->font)
                SendDlgItemMessageW(dialog, IDC_HELP_TEXT, WM_SETFONT, reinterpret_cast<WPARAM>(help->font), FALSE);
            showPage(dialog, *help);
            return TRUE;
        case WM_COMMAND:
            if (help) onCommand(dialog, *help, LOWORD(wParam));
            return TRUE;
        default: return FALSE;
    }
}

}  // namespace

// A prefix without pages opens nothing: there would be no page to show.
void showHelpPages(HINSTANCE instance, HWND owner, const PropertiesContainer& properties, const wchar_t* keyPrefix) {
    HelpState help;
    std::wstring prefix = keyPrefix;
    help.pages = collectPages(properties, prefix);
    if (help.pages.empty()) return;
    help.current = help.pages.front().get();
    size_t dot = prefix.rfind(L'.');
    help.title = dot == std::wstring::npos ? prefix : prefix.substr(dot + 1);
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_HELP_PAGES), owner, helpDialogProc, reinterpret_cast<LPARAM>(&help));
    DeleteObject(help.font);
}
