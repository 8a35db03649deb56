// The Windows model, windows part: test control of dialogs, other programs'
// windows, the desktop, device contexts, fonts and cursors, and the record of
// message boxes and control texts (tests/winmodel/dialog.cpp).
//
// A dialog is a set of controls by id with text, check state, visibility and
// font; a test drives it as a person would (click, type, read) through the
// host_dialog_* calls below. Everything is single-threaded, like the setup.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32_api.h"

// A dialog template of the program's resources: its controls.
enum HostControlKind {
    host_push_button,
    host_check_box, // automatic: a click toggles it
    host_static_text,
    host_edit_box,
    host_group_box,
    host_picture,
};
struct HostControlTemplate {
    int id;
    HostControlKind kind;
    const char *text;
    bool visible;
};
struct HostDialogTemplate {
    int id;
    int width_units; // dialog units
    int height_units;
    const HostControlTemplate *controls;
    int control_count;
};
// The program's dialog templates, found by id (none until set). They belong
// to the program under test, not to the model: host_shell_reset keeps them.
// A picture control's text names its bitmap resource, "#1" for bitmap 1.
void host_set_dialog_templates(const HostDialogTemplate *templates, int count);
// The program's bitmap resources, by id, with their own size in pixels.
struct HostBitmapResource {
    int id;
    int width;
    int height;
};
void host_set_bitmap_resources(const HostBitmapResource *bitmaps, int count);

// Creates the dialog of template_id and sends WM_INITDIALOG to proc; the
// new dialog becomes the current one that the calls below act on. nullptr
// when the template does not exist.
HWND host_dialog_start(int template_id, DLGPROC proc, LPARAM param);
// DialogBoxParamA starts the dialog and then calls this driver, which plays
// the user; it returns the EndDialog result, or -1 when the driver returned
// without the dialog having ended.
void host_set_dialog_driver(std::function<void(HWND dialog)> driver);
// The instance the last DialogBoxParamA was given, whose resources hold the
// template.
HINSTANCE host_dialog_instance();
// A click on a control: a visible check box toggles first, then the dialog
// gets WM_COMMAND with the id; a dialog that ended on it gets WM_DESTROY, as
// the modal loop destroys it. Returns -1 (and does nothing) for a control
// that does not exist, is hidden, or when the dialog has ended.
int host_dialog_click(int id);
// Typing: replaces the text of an edit box.
void host_dialog_set_text(int id, const char *text);
std::string host_dialog_text(int id);
bool host_dialog_checked(int id);
bool host_dialog_visible(int id); // id 0: the dialog itself
int host_dialog_focus();          // id of the focused control, 0 for none
HFONT host_dialog_font(int id);
std::string host_dialog_caption();
RECT host_dialog_rect();
bool host_dialog_ended();
INT_PTR host_dialog_result();

// The desktop's window rectangle (default 0, 0, 1024, 768) and the screen's
// vertical resolution (default 96).
void host_set_desktop_rect(RECT rect);
void host_set_screen_dpi(int dpi);
// Device contexts handed out by GetDC and not yet released.
int host_open_device_contexts();
// When set, CreateFontIndirectA fails.
void host_set_font_creation_fails(bool fails);
// The last font CreateFontIndirectA made, and how many it made.
const LOGFONTA &host_last_font();
int host_fonts_created();
HCURSOR host_current_cursor();
HCURSOR host_wait_cursor();

// Bitmaps LoadImageA made and DeleteObject has not freed (a picture
// control's own bitmap from the template included); the image a picture
// control shows (nullptr: none) and an image's size in pixels.
int host_live_images();
HANDLE host_dialog_image(int id);
RECT host_image_rect(HANDLE image);
// Called by UpdateWindow on a visible control with the control's id and the
// text it paints (nullptr: nothing is called).
void host_set_repaint_hook(std::function<void(int id, const std::string &text)> hook);
bool host_window_ghosting_disabled();

// A top-level window of another program that FindWindowA can find. It goes
// away on the vanish_after-th WM_DESTROY (0: never); handling a WM_DESTROY
// takes it busy_ms on the virtual clock, host_window_hung when its thread no
// longer handles messages at all (a plain send then waits for ever, which
// the clock shows as that many milliseconds).
constexpr DWORD host_window_hung = 0xFFFFFFFFu;
HWND host_add_window(const char *class_name, const char *title, int vanish_after, DWORD busy_ms);
int host_window_destroy_count(HWND window);
bool host_window_exists(HWND window);
// What happened to windows, in order: "destroy <class>" for each WM_DESTROY
// sent to a registered window, "show dialog" when a dialog became visible.
std::vector<std::string> &host_window_events();

struct HostMessageBox {
    std::string text;
    std::string caption;
    UINT type;
};
// Every message box shown so far, in order; MessageBoxA answers IDOK.
std::vector<HostMessageBox> &host_message_boxes();
// Every SetDlgItemTextA call so far as (control id, text), in order.
std::vector<std::pair<int, std::string>> &host_control_text_log();

// ---- Between the model's parts (not for tests) ----

void host_reset_windows();
// The folder browser's own window, for the callback's messages.
HWND host_open_browser_window();
void host_close_browser_window(HWND window);
