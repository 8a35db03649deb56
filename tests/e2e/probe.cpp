// probe.exe: the end-to-end tests' eyes inside Wine. Child controls of a Win32
// dialog are not X windows, so neither xdotool nor a screenshot can tell which
// text a control holds or where exactly it sits; this small console program,
// run in the same prefix as the setup, asks the window manager of Windows
// itself and prints one line per window, which the shell tests grep.
//
//   probe.exe dump                   every visible top-level window and its children
//   probe.exe wait CAPTION SECONDS   wait until a visible window with that caption exists,
//                                    then say when it was found and dump
//   probe.exe gone CLASS SECONDS     wait until no window of that class exists
//   probe.exe resources FILE         dialog template 100, bitmap 1, icon 1, manifest, version
//   probe.exe run SECONDS COMMAND    start COMMAND (one argument: the whole command line, as
//                                    the program will see it), dump each visible top-level
//                                    window of its process the moment it appears, and say
//                                    how it ended
//
// Lines:
//   FOUND at=MS (milliseconds since 1970, the system's clock, as `date +%s%3N`)
//   EXIT code=N (run: the process's exit code)
//   TOP class="..." text="..." rect=l,t,r,b style=0x... exstyle=0x... pid=N focus=ID
//   CHILD id=N class="..." text="..." visible=0|1 checked=0|1 rect=l,t,r,b style=0x...
// Rectangles are screen pixels: the X root's coordinates under Wine without a
// window manager, so xdotool can click them.
// Exit code 0 on success, 1 on a timeout (run: the process is then ended) or a
// missing resource.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void print_quoted(const char *text) {
    putchar('"');
    for (const char *p = text; *p; ++p) {
        if (*p == '\n')
            fputs("\\n", stdout);
        else if (*p != '\r')
            putchar(*p);
    }
    putchar('"');
}

// Another process's control keeps its own text (an edit box's is not the
// window caption), so ask the control itself, as the system marshals
// WM_GETTEXT across processes.
static void control_text(HWND window, char *text, int size) {
    DWORD_PTR copied = 0;
    text[0] = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, (WPARAM)size, (LPARAM)text, SMTO_ABORTIFHUNG, 2000,
                             &copied))
        text[0] = 0;
    text[size - 1] = 0;
}

static BOOL CALLBACK print_child(HWND child, LPARAM) {
    char cls[64] = "";
    char text[512];
    GetClassNameA(child, cls, sizeof cls);
    const int is_button = lstrcmpiA(cls, "Button") == 0;
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    // A picture's "text" is its resource id, not a text to print.
    if ((style & SS_TYPEMASK) == SS_BITMAP && !is_button)
        text[0] = 0;
    else
        control_text(child, text, sizeof text);
    RECT r;
    GetWindowRect(child, &r);
    const int checked =
        is_button && (int)SendMessageA(child, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    printf("CHILD id=%d class=", GetDlgCtrlID(child));
    print_quoted(cls);
    fputs(" text=", stdout);
    print_quoted(text);
    printf(" visible=%d checked=%d rect=%ld,%ld,%ld,%ld style=0x%08lx\n",
           IsWindowVisible(child) ? 1 : 0, checked, r.left, r.top, r.right, r.bottom,
           (unsigned long)style);
    return TRUE;
}

static void print_window(HWND window) {
    char cls[64] = "";
    char text[512] = "";
    GetClassNameA(window, cls, sizeof cls);
    control_text(window, text, sizeof text);
    RECT r;
    GetWindowRect(window, &r);
    DWORD pid = 0;
    const DWORD thread = GetWindowThreadProcessId(window, &pid);
    // The keyboard focus of the window's thread, as the id of a child.
    GUITHREADINFO gui;
    memset(&gui, 0, sizeof gui);
    gui.cbSize = sizeof gui;
    int focus = 0;
    if (GetGUIThreadInfo(thread, &gui) && gui.hwndFocus && IsChild(window, gui.hwndFocus))
        focus = GetDlgCtrlID(gui.hwndFocus);
    fputs("TOP class=", stdout);
    print_quoted(cls);
    fputs(" text=", stdout);
    print_quoted(text);
    printf(" rect=%ld,%ld,%ld,%ld style=0x%08lx exstyle=0x%08lx pid=%lu focus=%d\n", r.left, r.top,
           r.right, r.bottom, (unsigned long)GetWindowLongA(window, GWL_STYLE),
           (unsigned long)GetWindowLongA(window, GWL_EXSTYLE), (unsigned long)pid, focus);
    EnumChildWindows(window, print_child, 0);
}

static BOOL CALLBACK print_visible_top(HWND window, LPARAM) {
    if (IsWindowVisible(window))
        print_window(window);
    return TRUE;
}

struct CaptionSearch {
    const char *caption;
    HWND found;
};

static BOOL CALLBACK find_caption(HWND window, LPARAM param) {
    CaptionSearch *search = (CaptionSearch *)param;
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    if (IsWindowVisible(window) && strcmp(text, search->caption) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

static int wait_for_caption(const char *caption, int seconds) {
    for (int waited = 0; waited <= seconds * 10; ++waited) {
        CaptionSearch search = {caption, NULL};
        EnumWindows(find_caption, (LPARAM)&search);
        if (search.found) {
            FILETIME now;
            GetSystemTimeAsFileTime(&now);
            const unsigned long long ticks =
                (unsigned long long)now.dwHighDateTime << 32 | now.dwLowDateTime;
            printf("FOUND at=%llu\n", (ticks - 116444736000000000ull) / 10000);
            // Let the window finish painting its controls' texts.
            Sleep(300);
            EnumWindows(print_visible_top, 0);
            return 0;
        }
        Sleep(100);
    }
    printf("TIMEOUT waiting for a window captioned ");
    print_quoted(caption);
    putchar('\n');
    return 1;
}

static int wait_until_gone(const char *cls, int seconds) {
    for (int waited = 0; waited <= seconds * 10; ++waited) {
        if (!FindWindowA(cls, NULL)) {
            printf("GONE class=\"%s\"\n", cls);
            return 0;
        }
        Sleep(100);
    }
    printf("TIMEOUT a window of class \"%s\" is still there\n", cls);
    return 1;
}

// The windows of one process that were already printed, so that each is
// printed once, when it first shows.
struct WindowWatch {
    DWORD pid;
    HWND seen[64];
    int count;
};

static BOOL CALLBACK print_new_window_of(HWND window, LPARAM param) {
    WindowWatch *watch = (WindowWatch *)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != watch->pid || !IsWindowVisible(window))
        return TRUE;
    for (int i = 0; i < watch->count; ++i)
        if (watch->seen[i] == window)
            return TRUE;
    if (watch->count < 64)
        watch->seen[watch->count++] = window;
    print_window(window);
    return TRUE;
}

// A program that should show nothing: every window it shows is looked for
// every 10 ms while it runs, so even one that flashes by is seen; a message
// box waits for an answer and cannot be missed.
static int run_watching(const char *command, int seconds) {
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    char line[4096];
    snprintf(line, sizeof line, "%s", command);
    if (!CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        printf("CANNOT-START error=%lu\n", (unsigned long)GetLastError());
        return 1;
    }
    WindowWatch watch;
    memset(&watch, 0, sizeof watch);
    watch.pid = process.dwProcessId;
    DWORD waited = WAIT_TIMEOUT;
    for (int step = 0; step < seconds * 100 && waited == WAIT_TIMEOUT; ++step) {
        EnumWindows(print_new_window_of, (LPARAM)&watch);
        waited = WaitForSingleObject(process.hProcess, 10);
    }
    int failed = 0;
    if (waited == WAIT_TIMEOUT) {
        puts("TIMEOUT the program is still running; ended");
        TerminateProcess(process.hProcess, 255);
        WaitForSingleObject(process.hProcess, 5000);
        failed = 1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    printf("EXIT code=%lu\n", (unsigned long)code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return failed;
}

// The extended dialog template as the resource compiler laid it out.
static const BYTE *read_text(const BYTE *p, char *out, size_t out_size, int *ordinal) {
    const WORD *w = (const WORD *)p;
    *ordinal = -1;
    out[0] = 0;
    if (*w == 0xFFFF) {
        *ordinal = w[1];
        return p + 4;
    }
    size_t n = 0;
    while (*w) {
        if (n + 1 < out_size)
            out[n++] = (char)(*w < 0x80 ? *w : '?');
        ++w;
    }
    out[n] = 0;
    return (const BYTE *)(w + 1);
}

static const BYTE *align_dword(const BYTE *p, const BYTE *base) {
    return base + ((p - base + 3) & ~(ptrdiff_t)3);
}

static int print_dialog_template(HMODULE module) {
    HRSRC res = FindResourceExA(module, (LPCSTR)RT_DIALOG, MAKEINTRESOURCEA(100),
                                MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    if (!res) {
        puts("MISSING dialog 100 (German)");
        return 1;
    }
    const BYTE *base = (const BYTE *)LockResource(LoadResource(module, res));
    const WORD *h = (const WORD *)base;
    if (h[0] != 1 || h[1] != 0xFFFF) {
        puts("NOT-EXTENDED dialog 100");
        return 1;
    }
    const DWORD exstyle = *(const DWORD *)(base + 8);
    const DWORD style = *(const DWORD *)(base + 12);
    const WORD count = *(const WORD *)(base + 16);
    const short *geometry = (const short *)(base + 18);
    const BYTE *p = base + 26;
    char menu[64], cls[64], caption[256], face[64];
    int ordinal;
    p = read_text(p, menu, sizeof menu, &ordinal);
    p = read_text(p, cls, sizeof cls, &ordinal);
    p = read_text(p, caption, sizeof caption, &ordinal);
    const WORD point = *(const WORD *)p;
    p += 6; // point size, weight, italic, character set
    p = read_text(p, face, sizeof face, &ordinal);
    printf("DIALOG 100 lang=1031 style=0x%08lx exstyle=0x%08lx size=%d,%d,%d,%d caption=",
           (unsigned long)style, (unsigned long)exstyle, geometry[0], geometry[1], geometry[2],
           geometry[3]);
    print_quoted(caption);
    printf(" font=%u,", point);
    print_quoted(face);
    printf(" items=%u\n", count);
    for (WORD i = 0; i < count; ++i) {
        p = align_dword(p, base);
        const DWORD item_ex = *(const DWORD *)(p + 4);
        const DWORD item_style = *(const DWORD *)(p + 8);
        const short *g = (const short *)(p + 12);
        const int id = *(const int *)(p + 20);
        p += 24;
        int class_ordinal, text_ordinal;
        char text[256];
        p = read_text(p, cls, sizeof cls, &class_ordinal);
        p = read_text(p, text, sizeof text, &text_ordinal);
        const WORD extra = *(const WORD *)p;
        p += 2 + extra;
        if (class_ordinal >= 0) {
            static const char *const names[] = {"Button",  "Edit",      "Static",
                                                "ListBox", "ScrollBar", "ComboBox"};
            const int k = class_ordinal - 0x80;
            snprintf(cls, sizeof cls, "%s", k >= 0 && k < 6 ? names[k] : "?");
        }
        if (text_ordinal >= 0)
            snprintf(text, sizeof text, "#%d", text_ordinal);
        printf("ITEM id=%d class=\"%s\" style=0x%08lx exstyle=0x%08lx at=%d,%d,%d,%d text=", id,
               cls, (unsigned long)item_style, (unsigned long)item_ex, g[0], g[1], g[2], g[3]);
        print_quoted(text);
        putchar('\n');
    }
    return 0;
}

static int print_resources(const char *file) {
    HMODULE module = LoadLibraryExA(file, NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        printf("CANNOT-LOAD %s\n", file);
        return 1;
    }
    int failed = print_dialog_template(module);

    HBITMAP bitmap =
        (HBITMAP)LoadImageA(module, MAKEINTRESOURCEA(1), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    DIBSECTION dib;
    if (bitmap && GetObjectA(bitmap, sizeof dib, &dib) == sizeof dib) {
        printf("BITMAP 1 size=%ldx%ld bits=%u\n", dib.dsBmih.biWidth, dib.dsBmih.biHeight,
               dib.dsBmih.biBitCount);
    } else {
        puts("MISSING bitmap 1");
        failed = 1;
    }

    // The icon group's directory names each image's size and colour count.
    HRSRC group = FindResourceA(module, MAKEINTRESOURCEA(1), (LPCSTR)RT_GROUP_ICON);
    if (group) {
        const BYTE *dir = (const BYTE *)LockResource(LoadResource(module, group));
        const WORD images = *(const WORD *)(dir + 4);
        for (WORD i = 0; i < images; ++i) {
            const BYTE *e = dir + 6 + 14 * i;
            printf("ICON 1 size=%ux%u colours=%u bits=%u\n", e[0], e[1], e[2],
                   *(const WORD *)(e + 6));
        }
    } else {
        puts("MISSING icon 1");
        failed = 1;
    }

    HRSRC manifest = FindResourceA(module, MAKEINTRESOURCEA(1), (LPCSTR)RT_MANIFEST);
    if (manifest) {
        const DWORD size = SizeofResource(module, manifest);
        const char *text = (const char *)LockResource(LoadResource(module, manifest));
        printf("MANIFEST ");
        for (DWORD i = 0; i < size; ++i)
            if (text[i] != '\r' && text[i] != '\n')
                putchar(text[i]);
        putchar('\n');
    } else {
        puts("MISSING manifest");
        failed = 1;
    }

    HRSRC version = FindResourceA(module, MAKEINTRESOURCEA(1), (LPCSTR)RT_VERSION);
    if (version) {
        // VS_FIXEDFILEINFO follows the 'VS_VERSION_INFO' key, aligned to 4.
        const BYTE *v = (const BYTE *)LockResource(LoadResource(module, version));
        const BYTE *fixed = align_dword(v + 6 + 2 * 16, v);
        const DWORD ms = *(const DWORD *)(fixed + 8), ls = *(const DWORD *)(fixed + 12);
        printf("VERSION %lu.%lu.%lu.%lu\n", (unsigned long)HIWORD(ms), (unsigned long)LOWORD(ms),
               (unsigned long)HIWORD(ls), (unsigned long)LOWORD(ls));
    } else {
        puts("MISSING version");
        failed = 1;
    }
    FreeLibrary(module);
    return failed;
}

int main(int argc, char **argv) {
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc == 2 && strcmp(argv[1], "dump") == 0) {
        EnumWindows(print_visible_top, 0);
        return 0;
    }
    if (argc == 4 && strcmp(argv[1], "wait") == 0)
        return wait_for_caption(argv[2], atoi(argv[3]));
    if (argc == 4 && strcmp(argv[1], "gone") == 0)
        return wait_until_gone(argv[2], atoi(argv[3]));
    if (argc == 3 && strcmp(argv[1], "resources") == 0)
        return print_resources(argv[2]);
    if (argc == 4 && strcmp(argv[1], "run") == 0)
        return run_watching(argv[3], atoi(argv[2]));
    fputs("usage: probe.exe dump | wait CAPTION SECONDS | gone CLASS SECONDS | resources FILE\n"
          "       | run SECONDS COMMAND\n",
          stderr);
    return 2;
}
