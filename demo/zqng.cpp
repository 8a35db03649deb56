// ZQNG.EXE, the demo product that the installer carries. It is just enough of
// a program to show what the setup did: one window of the class
// "ZQ Navigrove" (the class the setup looks for when it closes running
// copies), a greeting in the language that ZQNG.INI names, taken from that
// language's ZQNG_xx.LNG file, and the end of the process when the window
// receives WM_DESTROY.
#include <windows.h>

#include <stdio.h>
#include <string.h>

static const char product_name[] = "ZQ Navigrove";
static char greeting[256];

// The folder of this program, with a trailing backslash.
static void own_folder(char *folder, DWORD size) {
    DWORD n = GetModuleFileNameA(NULL, folder, size);
    if (n == 0 || n >= size) {
        folder[0] = 0;
        return;
    }
    char *slash = strrchr(folder, '\\');
    if (slash)
        slash[1] = 0;
    else
        folder[0] = 0;
}

// Reads the language code from ZQNG.INI ("US" when none is stored) and the
// greeting from that language's file.
static void load_language(char *code, DWORD code_size) {
    char folder[MAX_PATH];
    char path[MAX_PATH + 16];
    own_folder(folder, sizeof folder);
    snprintf(path, sizeof path, "%sZQNG.INI", folder);
    GetPrivateProfileStringA(product_name, "Language", "US", code, code_size, path);
    snprintf(path, sizeof path, "%sZQNG_%s.LNG", folder, code);
    GetPrivateProfileStringA("Texts", "Greeting", "Welcome to ZQ Navigrove", greeting,
                             sizeof greeting, path);
}

static LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        DrawTextA(dc, greeting, -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY:
        // The setup closes a running copy by sending this message: end here.
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    char code[16];
    load_language(code, sizeof code);

    WNDCLASSA cls;
    memset(&cls, 0, sizeof cls);
    cls.lpfnWndProc = main_window_proc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    cls.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    cls.lpszClassName = product_name;
    if (!RegisterClassA(&cls))
        return 1;

    // The caption names the language in use, so one can see what was read.
    char caption[64];
    snprintf(caption, sizeof caption, "%s 3.20 [%s]", product_name, code);
    HWND window = CreateWindowA(product_name, caption, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 480, 240, NULL, NULL, instance, NULL);
    if (!window)
        return 1;
    ShowWindow(window, show);
    UpdateWindow(window);

    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
