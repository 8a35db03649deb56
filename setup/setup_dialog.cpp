// The setup's one window. Everything the program does happens inside this
// dialog procedure, on the GUI thread, under the platform's modal loop:
// initialisation in a fixed order (the proposal may preset the languages
// before the boxes are checked from them), then the user's clicks. The
// language boxes and language_table are kept in step on every click on
// Deutsch or English, so the main-language rule can work on the table.
#include "setup/setup_dialog.h"

#include <cstdio>

#include "setup/install.h"
#include "setup/product.h"
#include "setup/setup_ids.h"
#include "setup/setup_state.h"
#include "setup/shell_links.h"
#include "setup/target_folder.h"

struct UiText {
    int id;
    const char *english;
    const char *german;
};

static const UiText ui_texts[] = {
    {IDC_TARGET_LABEL, "Install to:", "Zielpfad:"},
    {IDC_EXIT, "Exit", "Beenden"},
    {IDC_LANGUAGE_GROUP, "Language", "Sprache"},
    {IDC_START_MENU, "Put entry to Start Menu", "Programmgruppe erstellen"},
    {IDC_DESKTOP, "Put icon to Desktop", "Desktop-Icon erstellen"},
    {IDC_ADDITIONAL, "Additional languages", "Weitere Sprachen"},
};

void apply_ui_texts(HWND dialog) {
    if (ui_language != ui_language_english && ui_language != ui_language_german)
        return;
    for (const UiText &text : ui_texts)
        SetDlgItemTextA(dialog, text.id,
                        ui_language == ui_language_english ? text.english : text.german);
}

void update_ui_language(HWND dialog) {
    bool german_only = IsDlgButtonChecked(dialog, IDC_GERMAN) == BST_CHECKED &&
                       IsDlgButtonChecked(dialog, IDC_ENGLISH) != BST_CHECKED;
    int32_t language = german_only ? ui_language_german : ui_language_english;
    if (language == ui_language)
        return;
    ui_language = language;
    apply_ui_texts(dialog);
}

void check_selected_language_boxes(HWND dialog) {
    for (const LanguageEntry *row = language_table; row->suffix; ++row)
        if (row->selected)
            CheckDlgButton(dialog, row->control_id, BST_CHECKED);
}

void read_language_boxes(HWND dialog) {
    for (LanguageEntry *row = language_table; row->suffix; ++row)
        row->selected = IsDlgButtonChecked(dialog, row->control_id) == BST_CHECKED ? 1 : 0;
}

bool select_main_language() {
    for (const LanguageEntry *row = language_table; row->suffix; ++row)
        if (row->selected && row->suffix[1] != '?')
            return false;
    for (LanguageEntry *row = language_table; row->suffix; ++row)
        if (row->control_id == IDC_ENGLISH)
            ++row->selected;
    return true;
}

void ensure_main_language(HWND dialog) {
    if (select_main_language())
        check_selected_language_boxes(dialog);
}

void center_on_desktop(HWND window) {
    RECT desktop;
    RECT own;
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(window, &own);
    // Arithmetic shifts: an odd (or negative) difference is floored. The
    // desktop's own origin is deliberately not added.
    int x = int(((desktop.right - desktop.left) - (own.right - own.left)) >> 1);
    int y = int(((desktop.bottom - desktop.top) - (own.bottom - own.top)) >> 1);
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void close_running_product_windows() {
    DWORD start = GetTickCount();
    for (int attempt = 0; attempt < close_attempts_max; ++attempt) {
        HWND window = FindWindowA(product_name, nullptr);
        DWORD elapsed = GetTickCount() - start;
        if (!window || elapsed >= close_time_max_ms)
            return;
        // A copy whose thread no longer handles messages would keep a plain
        // send waiting for ever: wait at most for the time left, and not at
        // all once the system counts that copy as hung.
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(window, WM_DESTROY, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                            close_time_max_ms - elapsed, &ignored);
        elapsed = GetTickCount() - start;
        if (elapsed >= close_time_max_ms)
            return;
        // Give the product's process time to end before looking again.
        DWORD left = close_time_max_ms - elapsed;
        Sleep(left < close_pause_ms ? left : close_pause_ms);
    }
}

// The picture control takes its bitmap at the bitmap's own size, which fits
// its frame at 96 dpi only. At the frame's size in pixels at the current
// resolution, it fills the frame at any scale.
static void show_picture_at_frame_size(HWND dialog) {
    HWND picture = GetDlgItem(dialog, IDC_PICTURE);
    RECT frame = {0, 0, PICTURE_WIDTH, PICTURE_HEIGHT};
    if (!picture || !MapDialogRect(dialog, &frame))
        return;
    HANDLE scaled =
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDB_PRODUCT), IMAGE_BITMAP,
                   int(frame.right - frame.left), int(frame.bottom - frame.top), LR_DEFAULTCOLOR);
    if (!scaled)
        return;
    // The bitmap the control loaded from the template comes back to us.
    HANDLE loaded = reinterpret_cast<HANDLE>(
        SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(scaled)));
    if (loaded)
        DeleteObject(loaded);
}

// The control does not free a bitmap it was given.
static void free_picture(HWND dialog) {
    HANDLE shown = reinterpret_cast<HANDLE>(
        SendDlgItemMessageA(dialog, IDC_PICTURE, STM_SETIMAGE, IMAGE_BITMAP, 0));
    if (shown)
        DeleteObject(shown);
}

static void initialise_dialog(HWND dialog) {
    cut_product_file_base();
    center_on_desktop(dialog);
    show_picture_at_frame_size(dialog);

    char proposal[MAX_PATH];
    propose_target_folder(proposal);
    SetDlgItemTextA(dialog, IDC_TARGET, proposal);

    // The title line's font: 24 points at the screen's resolution.
    HDC dc = GetDC(dialog);
    LOGFONTA title_font = {MulDiv(-24, GetDeviceCaps(dc, LOGPIXELSY), 72),
                           0,
                           0,
                           0,
                           FW_NORMAL,
                           FALSE,
                           FALSE,
                           FALSE,
                           ANSI_CHARSET,
                           OUT_STRING_PRECIS,
                           CLIP_STROKE_PRECIS,
                           DRAFT_QUALITY,
                           VARIABLE_PITCH | FF_SWISS,
                           "MS Sans Serif"};
    ReleaseDC(dialog, dc);

    char text[64];
    snprintf(text, sizeof text, "%s%s%s", product_name, version_prefix, product_version);
    SetDlgItemTextA(dialog, IDC_TITLE, text);
    snprintf(text, sizeof text, "%s%s", caption_prefix, product_name);
    SetWindowTextA(dialog, text);
    // The font lives as long as the process; without it the title keeps the
    // dialog's font.
    HFONT font = CreateFontIndirectA(&title_font);
    if (font)
        SendDlgItemMessageA(dialog, IDC_TITLE, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);

    close_running_product_windows();

    ShowWindow(dialog, SW_SHOW);
    SetFocus(GetDlgItem(dialog, IDC_TARGET));
    CheckDlgButton(dialog, IDC_START_MENU, BST_CHECKED);
    CheckDlgButton(dialog, IDC_DESKTOP, BST_CHECKED);
    check_selected_language_boxes(dialog);
    update_ui_language(dialog);
    ensure_main_language(dialog);
}

INT_PTR CALLBACK setup_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_INITDIALOG) {
        initialise_dialog(dialog);
        return FALSE;
    }
    if (message == WM_DESTROY) {
        free_picture(dialog);
        return FALSE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wparam)) {
    case IDC_OK:
        read_language_boxes(dialog);
        if (run_install(dialog) == install_done)
            EndDialog(dialog, 0);
        break;
    case IDC_EXIT:
        EndDialog(dialog, 0);
        break;
    case IDC_BROWSE:
        browse_for_target_folder(dialog, IDC_TARGET);
        break;
    case IDC_GERMAN:
    case IDC_ENGLISH:
        update_ui_language(dialog);
        read_language_boxes(dialog);
        ensure_main_language(dialog);
        break;
    default: // the automatic check boxes toggle themselves; read on OK
        break;
    }
    return FALSE;
}
