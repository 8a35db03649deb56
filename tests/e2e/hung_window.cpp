// hung_window.exe: a stand-in for a copy of the product whose thread has
// stopped handling messages. It opens a window of the product's class
// "ZQ Navigrove", lets it appear, and then sleeps for ever without looking
// at its message queue again: a message sent to the window is never
// answered, and the process ends only when it is killed.
#include <windows.h>

#include <string.h>

static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcA(window, message, wparam, lparam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WNDCLASSA cls;
    memset(&cls, 0, sizeof cls);
    cls.lpfnWndProc = window_proc;
    cls.hInstance = instance;
    cls.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    cls.lpszClassName = "ZQ Navigrove";
    if (!RegisterClassA(&cls))
        return 1;
    HWND window = CreateWindowA(cls.lpszClassName, "ZQ Navigrove 3.20 [hung]", WS_OVERLAPPEDWINDOW,
                                40, 40, 360, 160, NULL, NULL, instance, NULL);
    if (!window)
        return 1;
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    // What showing the window queued is handled, so that it is on the
    // screen; after that, nothing.
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    Sleep(INFINITE);
    return 0;
}
