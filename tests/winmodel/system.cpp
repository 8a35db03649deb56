// The Windows model of a few KERNEL32 calls: the module's own path, the
// Windows folder, the error mode, the DLL search, code-page conversion and a
// virtual clock.
#include <cctype>
#include <cstring>
#include <string>

#include "tests/winmodel/system.h"

namespace {

struct SystemState {
    std::string module_path = "C:\\SETUP.EXE";
    std::string windows_directory = "C:\\WINDOWS";
    UINT error_mode = 0;
    bool old_system = false;
    DWORD default_dll_directories = 0;
    bool dll_directory_set = false;
    std::string dll_directory;
    DWORD clock = 0;
};

SystemState &state() {
    static SystemState s;
    return s;
}

// Copies text into a buffer of size characters, cut to fit; returns the
// number of characters copied.
size_t copy_cut(const std::string &text, char *buffer, size_t size) {
    if (!buffer || size == 0)
        return 0;
    size_t n = text.size() < size - 1 ? text.size() : size - 1;
    memcpy(buffer, text.data(), n);
    buffer[n] = 0;
    return n;
}

// Modules by handle: the program itself and KERNEL32.
HMODULE const program_module = reinterpret_cast<HMODULE>(uintptr_t(0x400000));
HMODULE const kernel32_module = reinterpret_cast<HMODULE>(uintptr_t(0x7ff80000));

BOOL WINAPI set_default_dll_directories(DWORD flags) {
    state().default_dll_directories = flags;
    return TRUE;
}

} // namespace

void host_reset_system() {
    state() = SystemState();
}

void host_set_module_path(const char *windows_path) {
    state().module_path = windows_path ? windows_path : "";
}

void host_set_windows_directory(const char *windows_path) {
    state().windows_directory = windows_path ? windows_path : "";
}

UINT host_error_mode() {
    return state().error_mode;
}

void host_set_old_system(bool old) {
    state().old_system = old;
}

DWORD host_default_dll_directories() {
    return state().default_dll_directories;
}

bool host_dll_directory(std::string *path) {
    if (state().dll_directory_set && path)
        *path = state().dll_directory;
    return state().dll_directory_set;
}

HMODULE GetModuleHandleA(LPCSTR name) {
    if (!name)
        return program_module;
    std::string lower;
    for (const char *p = name; *p; ++p)
        lower += char(tolower(static_cast<unsigned char>(*p)));
    return lower == "kernel32.dll" || lower == "kernel32" ? kernel32_module : nullptr;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    if (module != kernel32_module || !name || state().old_system ||
        strcmp(name, "SetDefaultDllDirectories") != 0)
        return nullptr;
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(set_default_dll_directories));
}

BOOL SetDllDirectoryA(LPCSTR path) {
    state().dll_directory_set = path != nullptr;
    state().dll_directory = path ? path : "";
    return TRUE;
}

UINT SetErrorMode(UINT mode) {
    UINT previous = state().error_mode;
    state().error_mode = mode;
    return previous;
}

// Like Windows, a path that does not fit is cut and the buffer's size returned.
DWORD GetModuleFileNameA(HMODULE, LPSTR path, DWORD size) {
    size_t n = copy_cut(state().module_path, path, size);
    if (size && state().module_path.size() >= size) {
        SetLastError(122); // ERROR_INSUFFICIENT_BUFFER
        return size;
    }
    return DWORD(n);
}

// Returns the length, or the size needed (with the NUL) when it does not fit.
UINT GetWindowsDirectoryA(LPSTR path, UINT size) {
    const std::string &folder = state().windows_directory;
    if (folder.size() >= size)
        return UINT(folder.size() + 1);
    return UINT(copy_cut(folder, path, size));
}

// The model's ANSI code page is Latin-1: each byte is its own character.
int MultiByteToWideChar(UINT, DWORD, LPCSTR text, int length, LPWSTR wide, int wide_count) {
    if (!text)
        return 0;
    size_t n = length < 0 ? strlen(text) + 1 : size_t(length);
    if (wide_count == 0)
        return int(n);
    if (!wide || n > size_t(wide_count)) {
        SetLastError(122);
        return 0;
    }
    for (size_t i = 0; i < n; ++i)
        wide[i] = WCHAR(static_cast<unsigned char>(text[i]));
    return int(n);
}

DWORD GetTickCount() {
    return state().clock;
}

void Sleep(DWORD milliseconds) {
    state().clock += milliseconds;
}
