// The Windows model of windows: modal dialogs built from the program's
// resource templates, their controls, other programs' top-level windows, the
// desktop, device contexts, fonts, bitmaps, cursors, message boxes.
//
// A window handle is its index in one table plus one, so a stale or foreign
// handle is recognised instead of followed. Dialog procedures are called
// directly: the model has no message queue, just as the setup has no
// message loop of its own.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "tests/winmodel/dialog.h"
#include "tests/winmodel/shell.h"

namespace {

enum WindowKind { window_desktop, window_dialog, window_control, window_foreign, window_browser };

struct HostWindow {
    WindowKind kind;
    size_t dialog; // the owning dialog of a control
    int id;        // a control's id
    HostControlKind control_kind;
    std::string text; // caption, control text, or a foreign window's title
    std::string class_name;
    bool checked;
    bool visible;
    bool exists;
    HFONT font;
    HANDLE image; // a picture control's bitmap
    RECT rect;
    // Dialogs.
    DLGPROC proc;
    bool ended;
    bool destroyed;
    INT_PTR result;
    HWND focus;
    // Foreign windows.
    int vanish_after;
    int destroy_count;
    DWORD busy_ms;
};

struct HostImage {
    LONG width;
    LONG height;
    bool live;
};

struct WindowState {
    std::vector<HostWindow> windows;
    HINSTANCE instance = nullptr;
    size_t current_dialog = 0; // index + 1, 0 for none
    std::function<void(HWND)> driver;
    std::vector<std::string> events;
    RECT desktop = {0, 0, 1024, 768};
    int dpi = 96;
    int open_dcs = 0;
    bool font_fails = false;
    LOGFONTA last_font = {};
    int fonts_created = 0;
    std::vector<HostImage> images;
    std::function<void(int, const std::string &)> repaint_hook;
    bool ghosting_disabled = false;
    HCURSOR cursor = reinterpret_cast<HCURSOR>(uintptr_t(32512));
};

WindowState &state() {
    static WindowState s;
    return s;
}

struct Resources {
    const HostDialogTemplate *templates;
    int count;
    const HostBitmapResource *bitmaps;
    int bitmap_count;
};

Resources &resources() {
    static Resources r = {nullptr, 0, nullptr, 0};
    return r;
}

// A bitmap resource at cx by cy pixels (0: its own size); nullptr when the
// resources hold no bitmap of that id.
HANDLE load_bitmap(int id, int cx, int cy) {
    for (int i = 0; i < resources().bitmap_count; ++i) {
        const HostBitmapResource &bitmap = resources().bitmaps[i];
        if (bitmap.id != id)
            continue;
        state().images.push_back({cx ? cx : bitmap.width, cy ? cy : bitmap.height, true});
        return reinterpret_cast<HANDLE>(uintptr_t(0x30000 + state().images.size()));
    }
    return nullptr;
}

HostImage *image_of(HANDLE image) {
    uintptr_t n = reinterpret_cast<uintptr_t>(image);
    if (n <= 0x30000 || n > 0x30000 + state().images.size())
        return nullptr;
    return &state().images[n - 0x30001];
}

// The dialog font's average character cell at the screen's resolution: 6 by
// 13 pixels at 96 dpi. Dialog units are a quarter of its width and an eighth
// of its height.
LONG units_to_x(LONG units) {
    return MulDiv(int(units), MulDiv(6, state().dpi, 96), 4);
}
LONG units_to_y(LONG units) {
    return MulDiv(int(units), MulDiv(13, state().dpi, 96), 8);
}

// nullptr for an id the program's resources do not hold.
const HostDialogTemplate *dialog_template(int id) {
    for (int i = 0; i < resources().count; ++i)
        if (resources().templates[i].id == id)
            return &resources().templates[i];
    return nullptr;
}

HWND handle_of(size_t index) {
    return reinterpret_cast<HWND>(uintptr_t(index + 1));
}

HostWindow *window_of(HWND window) {
    uintptr_t n = reinterpret_cast<uintptr_t>(window);
    if (n == 0 || n > state().windows.size())
        return nullptr;
    return &state().windows[n - 1];
}

HWND add_window(const HostWindow &w) {
    state().windows.push_back(w);
    return handle_of(state().windows.size() - 1);
}

HostWindow blank_window(WindowKind kind) {
    HostWindow w = {};
    w.kind = kind;
    w.exists = true;
    return w;
}

HWND control_handle(HWND dialog, int id) {
    HostWindow *d = window_of(dialog);
    if (!d || d->kind != window_dialog)
        return nullptr;
    size_t dialog_index = reinterpret_cast<uintptr_t>(dialog) - 1;
    for (size_t i = 0; i < state().windows.size(); ++i) {
        const HostWindow &w = state().windows[i];
        if (w.kind == window_control && w.dialog == dialog_index && w.id == id)
            return handle_of(i);
    }
    return nullptr;
}

HostWindow *control_of(HWND dialog, int id) {
    return window_of(control_handle(dialog, id));
}

HWND current_dialog() {
    return state().current_dialog ? handle_of(state().current_dialog - 1) : nullptr;
}

HostWindow *current_control(int id) {
    return control_of(current_dialog(), id);
}

bool same_text_ignoring_case(const char *a, const char *b) {
    for (; *a && *b; ++a, ++b)
        if (tolower(static_cast<unsigned char>(*a)) != tolower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

void set_visible(HostWindow *w, bool visible) {
    if (w->kind == window_dialog && visible && !w->visible)
        state().events.push_back("show dialog");
    w->visible = visible;
}

// WM_DESTROY to a window of another program. It handles it in busy_ms, or
// not within limit_ms: then the caller stops waiting and the window stays.
bool destroy_foreign(HostWindow *w, DWORD limit_ms) {
    state().events.push_back("destroy " + w->class_name);
    ++w->destroy_count;
    if (w->busy_ms > limit_ms) {
        Sleep(limit_ms);
        return false;
    }
    Sleep(w->busy_ms);
    if (w->vanish_after && w->destroy_count >= w->vanish_after)
        w->exists = false;
    return true;
}

} // namespace

void host_reset_windows() {
    state() = WindowState();
    host_message_boxes().clear();
    host_control_text_log().clear();
}

std::vector<HostMessageBox> &host_message_boxes() {
    static std::vector<HostMessageBox> boxes;
    return boxes;
}

std::vector<std::pair<int, std::string>> &host_control_text_log() {
    static std::vector<std::pair<int, std::string>> log;
    return log;
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    host_message_boxes().push_back({text ? text : "", caption ? caption : "", type});
    return IDOK;
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    host_control_text_log().emplace_back(id, text ? text : "");
    HostWindow *control = control_of(dialog, id);
    if (!control)
        return FALSE;
    control->text = text ? text : "";
    return TRUE;
}

void host_set_dialog_templates(const HostDialogTemplate *templates, int count) {
    resources().templates = templates;
    resources().count = count;
}

void host_set_bitmap_resources(const HostBitmapResource *bitmaps, int count) {
    resources().bitmaps = bitmaps;
    resources().bitmap_count = count;
}

HWND host_dialog_start(int template_id, DLGPROC proc, LPARAM param) {
    const HostDialogTemplate *t = dialog_template(template_id);
    if (!t || !proc)
        return nullptr;
    HostWindow d = blank_window(window_dialog);
    d.proc = proc;
    d.rect = {0, 0, units_to_x(t->width_units), units_to_y(t->height_units)};
    HWND dialog = add_window(d);
    size_t dialog_index = state().windows.size() - 1;
    for (int i = 0; i < t->control_count; ++i) {
        const HostControlTemplate &c = t->controls[i];
        HostWindow w = blank_window(window_control);
        w.dialog = dialog_index;
        w.id = c.id;
        w.control_kind = c.kind;
        w.text = c.text;
        w.visible = c.visible;
        if (c.kind == host_picture && c.text[0] == '#')
            w.image = load_bitmap(atoi(c.text + 1), 0, 0);
        add_window(w);
    }
    state().current_dialog = dialog_index + 1;
    proc(dialog, WM_INITDIALOG, 0, param);
    // The template's visible style shows the dialog once initialisation ends.
    set_visible(window_of(dialog), true);
    return dialog;
}

void host_set_dialog_driver(std::function<void(HWND)> driver) {
    state().driver = driver;
}

HINSTANCE host_dialog_instance() {
    return state().instance;
}

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR template_name, HWND, DLGPROC proc,
                        LPARAM param) {
    state().instance = instance;
    uintptr_t id = reinterpret_cast<uintptr_t>(template_name);
    if (id > 0xffff)
        return -1;
    HWND dialog = host_dialog_start(int(id), proc, param);
    if (!dialog)
        return -1;
    if (state().driver)
        state().driver(dialog);
    HostWindow *d = window_of(dialog);
    return d->ended ? d->result : -1;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    HostWindow *d = window_of(dialog);
    if (!d || d->kind != window_dialog)
        return FALSE;
    d->ended = true;
    d->result = result;
    d->visible = false;
    return TRUE;
}

HWND GetDlgItem(HWND dialog, int id) {
    return control_handle(dialog, id);
}

UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int max_count) {
    HostWindow *control = control_of(dialog, id);
    if (!text || max_count <= 0)
        return 0;
    size_t n = control ? control->text.size() : 0;
    if (n > size_t(max_count - 1))
        n = size_t(max_count - 1);
    if (n)
        memcpy(text, control->text.data(), n);
    text[n] = 0;
    return UINT(n);
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
    HostWindow *control = control_of(dialog, id);
    if (!control)
        return FALSE;
    control->checked = check == BST_CHECKED;
    return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
    HostWindow *control = control_of(dialog, id);
    return control && control->checked ? BST_CHECKED : BST_UNCHECKED;
}

BOOL ShowWindow(HWND window, int command) {
    HostWindow *w = window_of(window);
    if (!w)
        return FALSE;
    bool was_visible = w->visible;
    set_visible(w, command != SW_HIDE);
    return was_visible;
}

HWND SetFocus(HWND window) {
    HostWindow *w = window_of(window);
    if (!w || w->kind != window_control)
        return nullptr;
    HostWindow &dialog = state().windows[w->dialog];
    HWND previous = dialog.focus;
    dialog.focus = window;
    return previous;
}

BOOL SetWindowTextA(HWND window, LPCSTR text) {
    HostWindow *w = window_of(window);
    if (!w)
        return FALSE;
    w->text = text ? text : "";
    return TRUE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    HostWindow *w = window_of(window);
    if (!w || !w->exists)
        return 0;
    if (w->kind == window_control && message == WM_SETFONT)
        w->font = reinterpret_cast<HFONT>(wparam);
    if (w->kind == window_control && w->control_kind == host_picture && message == STM_SETIMAGE &&
        wparam == IMAGE_BITMAP) {
        HANDLE previous = w->image;
        w->image = reinterpret_cast<HANDLE>(lparam);
        return reinterpret_cast<LRESULT>(previous);
    }
    if (w->kind == window_browser && message == BFFM_SETSELECTIONA)
        host_note_browse_selection(wparam, lparam);
    if (w->kind == window_foreign && message == WM_DESTROY)
        destroy_foreign(w, host_window_hung);
    return 0;
}

LRESULT SendMessageTimeoutA(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT,
                            UINT timeout_ms, PDWORD_PTR result) {
    HostWindow *w = window_of(window);
    if (result)
        *result = 0;
    if (!w || !w->exists)
        return 0;
    if (w->kind == window_foreign && message == WM_DESTROY)
        return destroy_foreign(w, timeout_ms) ? 1 : 0;
    LRESULT answer = SendMessageA(window, message, wparam, lparam);
    if (result)
        *result = DWORD_PTR(answer);
    return 1;
}

BOOL UpdateWindow(HWND window) {
    HostWindow *w = window_of(window);
    if (!w || !w->exists)
        return FALSE;
    bool shown = w->visible && (w->kind != window_control || state().windows[w->dialog].visible);
    if (shown && state().repaint_hook)
        state().repaint_hook(w->kind == window_control ? w->id : 0, w->text);
    return TRUE;
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam) {
    return SendMessageA(control_handle(dialog, id), message, wparam, lparam);
}

HWND GetDesktopWindow() {
    for (size_t i = 0; i < state().windows.size(); ++i)
        if (state().windows[i].kind == window_desktop)
            return handle_of(i);
    HostWindow desktop = blank_window(window_desktop);
    desktop.visible = true;
    return add_window(desktop);
}

BOOL GetWindowRect(HWND window, LPRECT rect) {
    HostWindow *w = window_of(window);
    if (!w || !rect)
        return FALSE;
    *rect = w->kind == window_desktop ? state().desktop : w->rect;
    return TRUE;
}

BOOL SetWindowPos(HWND window, HWND, int x, int y, int cx, int cy, UINT flags) {
    HostWindow *w = window_of(window);
    if (!w)
        return FALSE;
    LONG width = w->rect.right - w->rect.left;
    LONG height = w->rect.bottom - w->rect.top;
    if (!(flags & SWP_NOSIZE)) {
        width = cx;
        height = cy;
    }
    w->rect = {x, y, x + width, y + height};
    return TRUE;
}

HWND FindWindowA(LPCSTR class_name, LPCSTR window_name) {
    for (size_t i = 0; i < state().windows.size(); ++i) {
        const HostWindow &w = state().windows[i];
        if (w.kind != window_foreign || !w.exists)
            continue;
        if (class_name && !same_text_ignoring_case(class_name, w.class_name.c_str()))
            continue;
        if (window_name && w.text != window_name)
            continue;
        return handle_of(i);
    }
    return nullptr;
}

BOOL MapDialogRect(HWND dialog, LPRECT rect) {
    HostWindow *d = window_of(dialog);
    if (!d || d->kind != window_dialog || !rect)
        return FALSE;
    *rect = {units_to_x(rect->left), units_to_y(rect->top), units_to_x(rect->right),
             units_to_y(rect->bottom)};
    return TRUE;
}

void DisableProcessWindowsGhosting() {
    state().ghosting_disabled = true;
}

HDC GetDC(HWND) {
    ++state().open_dcs;
    return reinterpret_cast<HDC>(uintptr_t(0x1000 + state().open_dcs));
}

int ReleaseDC(HWND, HDC dc) {
    if (!dc)
        return 0;
    --state().open_dcs;
    return 1;
}

int GetDeviceCaps(HDC, int index) {
    return index == LOGPIXELSY ? state().dpi : 0;
}

// number * numerator / denominator, rounded half away from zero; -1 when the
// denominator is 0 or the result does not fit, as Windows does.
int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0)
        return -1;
    int64_t product = int64_t(number) * numerator;
    bool negative = (product < 0) != (denominator < 0);
    uint64_t magnitude = uint64_t(product < 0 ? -product : product);
    uint64_t divisor = uint64_t(denominator < 0 ? -int64_t(denominator) : denominator);
    uint64_t quotient = (magnitude + divisor / 2) / divisor;
    if (quotient > uint64_t(INT32_MAX))
        return -1;
    return negative ? -int(quotient) : int(quotient);
}

HFONT CreateFontIndirectA(const LOGFONTA *font) {
    if (!font || state().font_fails)
        return nullptr;
    state().last_font = *font;
    ++state().fonts_created;
    return reinterpret_cast<HFONT>(uintptr_t(0x2000 + state().fonts_created));
}

HANDLE LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT) {
    uintptr_t id = reinterpret_cast<uintptr_t>(name);
    if (instance != GetModuleHandleA(nullptr) || type != IMAGE_BITMAP || id > 0xffff)
        return nullptr;
    return load_bitmap(int(id), cx, cy);
}

BOOL DeleteObject(HGDIOBJ object) {
    HostImage *image = image_of(object);
    if (!image || !image->live)
        return FALSE;
    image->live = false;
    return TRUE;
}

HCURSOR LoadCursorA(HINSTANCE, LPCSTR name) {
    return reinterpret_cast<HCURSOR>(reinterpret_cast<uintptr_t>(name));
}

HCURSOR SetCursor(HCURSOR cursor) {
    HCURSOR previous = state().cursor;
    state().cursor = cursor;
    return previous;
}

HWND host_open_browser_window() {
    HostWindow browser = blank_window(window_browser);
    browser.visible = true;
    return add_window(browser);
}

void host_close_browser_window(HWND window) {
    HostWindow *w = window_of(window);
    if (w && w->kind == window_browser)
        w->exists = false;
}

// ---- Test control ----

int host_dialog_click(int id) {
    HWND dialog = current_dialog();
    HostWindow *d = window_of(dialog);
    HostWindow *control = current_control(id);
    if (!d || d->ended || !control || !control->visible)
        return -1;
    if (control->control_kind == host_check_box)
        control->checked = !control->checked;
    d->proc(dialog, WM_COMMAND, WPARAM(uint16_t(id)), LPARAM(control_handle(dialog, id)));
    d = window_of(dialog);
    if (d->ended && !d->destroyed) {
        d->destroyed = true;
        d->proc(dialog, WM_DESTROY, 0, 0);
    }
    return 0;
}

void host_dialog_set_text(int id, const char *text) {
    HostWindow *control = current_control(id);
    if (control)
        control->text = text ? text : "";
}

std::string host_dialog_text(int id) {
    HostWindow *control = current_control(id);
    return control ? control->text : std::string();
}

bool host_dialog_checked(int id) {
    HostWindow *control = current_control(id);
    return control && control->checked;
}

bool host_dialog_visible(int id) {
    HostWindow *w = id == 0 ? window_of(current_dialog()) : current_control(id);
    return w && w->visible;
}

int host_dialog_focus() {
    HostWindow *d = window_of(current_dialog());
    HostWindow *focus = d ? window_of(d->focus) : nullptr;
    return focus ? focus->id : 0;
}

HFONT host_dialog_font(int id) {
    HostWindow *control = current_control(id);
    return control ? control->font : nullptr;
}

std::string host_dialog_caption() {
    HostWindow *d = window_of(current_dialog());
    return d ? d->text : std::string();
}

RECT host_dialog_rect() {
    HostWindow *d = window_of(current_dialog());
    return d ? d->rect : RECT{0, 0, 0, 0};
}

bool host_dialog_ended() {
    HostWindow *d = window_of(current_dialog());
    return d && d->ended;
}

INT_PTR host_dialog_result() {
    HostWindow *d = window_of(current_dialog());
    return d ? d->result : -1;
}

void host_set_desktop_rect(RECT rect) {
    state().desktop = rect;
}
void host_set_screen_dpi(int dpi) {
    state().dpi = dpi;
}
int host_open_device_contexts() {
    return state().open_dcs;
}
void host_set_font_creation_fails(bool fails) {
    state().font_fails = fails;
}
const LOGFONTA &host_last_font() {
    return state().last_font;
}
int host_fonts_created() {
    return state().fonts_created;
}
HCURSOR host_current_cursor() {
    return state().cursor;
}
HCURSOR host_wait_cursor() {
    return LoadCursorA(nullptr, IDC_WAIT);
}

int host_live_images() {
    int live = 0;
    for (const HostImage &image : state().images)
        live += image.live ? 1 : 0;
    return live;
}

HANDLE host_dialog_image(int id) {
    HostWindow *control = current_control(id);
    return control ? control->image : nullptr;
}

RECT host_image_rect(HANDLE image) {
    const HostImage *found = image_of(image);
    return found ? RECT{0, 0, found->width, found->height} : RECT{0, 0, 0, 0};
}

void host_set_repaint_hook(std::function<void(int, const std::string &)> hook) {
    state().repaint_hook = hook;
}

bool host_window_ghosting_disabled() {
    return state().ghosting_disabled;
}

HWND host_add_window(const char *class_name, const char *title, int vanish_after, DWORD busy_ms) {
    HostWindow w = blank_window(window_foreign);
    w.class_name = class_name ? class_name : "";
    w.text = title ? title : "";
    w.visible = true;
    w.vanish_after = vanish_after;
    w.busy_ms = busy_ms;
    return add_window(w);
}

int host_window_destroy_count(HWND window) {
    HostWindow *w = window_of(window);
    return w ? w->destroy_count : 0;
}

bool host_window_exists(HWND window) {
    HostWindow *w = window_of(window);
    return w && w->exists;
}

std::vector<std::string> &host_window_events() {
    return state().events;
}
