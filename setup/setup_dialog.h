// The setup dialog: its procedure, the English and German texts, the
// language check boxes and their link to language_table and ui_language.
#pragma once

#include "platform/win32_api.h"

// Bounds on shutting down running copies of the product before the dialog
// shows: a window that does not go away, or does not answer at all, is left
// behind after this many WM_DESTROY messages or this much time.
constexpr int close_attempts_max = 20;
constexpr DWORD close_time_max_ms = 3000;
constexpr DWORD close_pause_ms = 100;

INT_PTR CALLBACK setup_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
// Sets the six language-dependent texts for ui_language (English or German).
void apply_ui_texts(HWND dialog);
// German when only Deutsch is checked, else English; applies a change.
void update_ui_language(HWND dialog);
// Checks the box of every selected language; never unchecks one.
void check_selected_language_boxes(HWND dialog);
// Copies the language boxes into language_table.
void read_language_boxes(HWND dialog);
// Selects English in language_table when no main language (German or
// English) is selected; true when it did.
bool select_main_language();
// select_main_language, with the check box of a language it selects.
void ensure_main_language(HWND dialog);
void center_on_desktop(HWND window);
// Sends WM_DESTROY to the product's windows until none is found, within the
// bounds above; no send waits beyond the time left.
void close_running_product_windows();
