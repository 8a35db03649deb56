// UnInst.exe, the demo product's uninstaller: removes what the setup
// installed, after asking.
//
// A running program cannot delete its own file on Windows, so the work is
// done in two stages. Started without arguments (from the Uninstall entry or
// the install folder), it asks for confirmation, copies itself into the
// temporary folder and starts that copy with "/remove PID PATH" (PATH is the
// original's own path). The copy waits for the original to end, removes the
// product's files and the folders they leave empty, the shortcuts, the
// Uninstall entry and the recorded install folder, reports, and has its own
// file removed at the next restart.
//
// "/S" (the Uninstall entry's QuietUninstallString, for deployment tools)
// asks nothing and reports nothing: the original starts the copy with
// "/remove PID PATH /S" and ends with exit code 0 at once; the copy finishes
// the removal a moment later.
//
// Only the files the product consists of are removed, never a whole folder
// tree: a user who installed into a folder of their own keeps its other
// files. Registry values are removed only when they still describe this
// installation, so removing an old copy does not unregister a newer one.
//
// The copy runs from the temporary folder, where anyone can put a DLL under a
// system DLL's name: both stages search System32 only for DLLs loaded on
// demand, and the program imports only DLLs the system always takes from
// System32.
#include <windows.h>

#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char product_name[] = "ZQ Navigrove";
static const wchar_t caption[] = L"ZQ Navigrove Uninstall";
static const char uninstall_key[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZQ Navigrove";
static const char product_key[] = "Software\\ZQNavigrove";

// Every file of the product, and ZQNG.INI, which the setup writes.
static const char *const product_files[] = {
    "ZQNG.EXE",         "UnInst.exe",     "ZQNG.INI",          "ZQNG.DAT",        "ZQNG.LOG",
    "README.TXT",       "NAVGZIP.SET",    "ZQNG_DE.HLP",       "ZQNG_US.HLP",     "ZQNG_FR.HLP",
    "ZQNG_IT.HLP",      "ZQNG_DE.LNG",    "ZQNG_US.LNG",       "ZQNG_FR.LNG",     "ZQNG_IT.LNG",
    "MAPS\\EUROPE.MAP", "MAPS\\ASIA.MAP", "MAPS\\AMERICA.MAP", "MAPS\\TILES.BIN",
};
static const char *const product_folders[] = {"MAPS"};

// Wide texts: the umlaut reads right whatever the system's ANSI code page.
struct Texts {
    const wchar_t *question;
    const wchar_t *done;
};
static const Texts english = {L"Remove ZQ Navigrove and all of its components?",
                              L"ZQ Navigrove has been removed."};
static const Texts german = {L"ZQ Navigrove und alle zugeh\u00f6rigen Komponenten entfernen?",
                             L"ZQ Navigrove wurde entfernt."};

typedef BOOL(WINAPI *SetDefaultDllDirectoriesCall)(DWORD flags);

// SetDefaultDllDirectories came with an update of Windows 7, so it is looked
// up; without it, at least the current folder leaves the search.
static void restrict_dll_search(void) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC found = kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : NULL;
    SetDefaultDllDirectoriesCall set_default_directories =
        (SetDefaultDllDirectoriesCall)(void (*)(void))found;
    if (!set_default_directories || !set_default_directories(LOAD_LIBRARY_SEARCH_SYSTEM32))
        SetDllDirectoryA("");
}

// Cuts a path after its last backslash (keeping it); 0 when there is none.
static int cut_to_folder(char *path) {
    char *slash = strrchr(path, '\\');
    if (!slash)
        return 1;
    slash[1] = 0;
    return 0;
}

// The product speaks German when its INI says so.
static const Texts *texts_for(const char *folder) {
    char ini[MAX_PATH + 16];
    char code[16];
    snprintf(ini, sizeof ini, "%sZQNG.INI", folder);
    GetPrivateProfileStringA(product_name, "Language", "US", code, sizeof code, ini);
    return strcmp(code, "DE") == 0 ? &german : &english;
}

// Compares two folder paths, ignoring letter case and a trailing backslash.
static int same_folder(const char *a, const char *b) {
    size_t na = strlen(a), nb = strlen(b);
    while (na > 0 && a[na - 1] == '\\')
        --na;
    while (nb > 0 && b[nb - 1] == '\\')
        --nb;
    return na == nb && _strnicmp(a, b, na) == 0;
}

static void read_string(HKEY root, const char *key, const char *name, char *out, DWORD size) {
    HKEY handle;
    out[0] = 0;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return;
    DWORD type = 0, n = size - 1;
    if (RegQueryValueExA(handle, name, NULL, &type, (BYTE *)out, &n) != ERROR_SUCCESS ||
        type != REG_SZ)
        n = 0;
    out[n] = 0;
    RegCloseKey(handle);
}

// The Uninstall entry's command names this uninstaller: quoted, as the setup
// writes it, or bare, as older setups did.
static int names_uninstaller(const char *command, const char *uninstaller) {
    size_t n = strlen(command);
    if (n >= 2 && command[0] == '"' && command[n - 1] == '"')
        return strlen(uninstaller) == n - 2 && _strnicmp(command + 1, uninstaller, n - 2) == 0;
    return _stricmp(command, uninstaller) == 0;
}

static void remove_registry_entries(const char *folder, const char *uninstaller) {
    char value[MAX_PATH * 2];
    read_string(HKEY_LOCAL_MACHINE, uninstall_key, "UninstallString", value, sizeof value);
    if (names_uninstaller(value, uninstaller))
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, uninstall_key);

    read_string(HKEY_CURRENT_USER, product_key, "Dir", value, sizeof value);
    if (same_folder(value, folder)) {
        HKEY handle;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, product_key, 0, KEY_WRITE, &handle) == ERROR_SUCCESS) {
            RegDeleteValueA(handle, "Dir");
            RegCloseKey(handle);
        }
        // Goes only when nothing else is left in it.
        RegDeleteKeyA(HKEY_CURRENT_USER, product_key);
    }
}

static void remove_file(const char *path) {
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path);
}

static void remove_shortcuts(void) {
    char path[MAX_PATH + 64];
    char folder[MAX_PATH];
    // The setup puts its group under all users' programs, or the user's own.
    static const int program_folders[] = {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS};
    for (int csidl : program_folders) {
        if (SHGetFolderPathA(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, folder) != S_OK)
            continue;
        snprintf(path, sizeof path, "%s\\Navigrove\\%s.lnk", folder, product_name);
        remove_file(path);
        snprintf(path, sizeof path, "%s\\Navigrove", folder);
        RemoveDirectoryA(path);
    }
    if (SHGetFolderPathA(NULL, CSIDL_DESKTOPDIRECTORY, NULL, SHGFP_TYPE_CURRENT, folder) == S_OK) {
        snprintf(path, sizeof path, "%s\\%s.lnk", folder, product_name);
        remove_file(path);
    }
}

static void remove_product(const char *folder, const char *uninstaller) {
    char path[MAX_PATH + 64];
    for (const char *name : product_files) {
        snprintf(path, sizeof path, "%s%s", folder, name);
        remove_file(path);
    }
    for (const char *name : product_folders) {
        snprintf(path, sizeof path, "%s%s", folder, name);
        RemoveDirectoryA(path);
    }
    RemoveDirectoryA(folder);
    remove_shortcuts();
    remove_registry_entries(folder, uninstaller);
}

// Stage two: runs from the temporary copy.
static int remove_stage(DWORD parent, const char *uninstaller, bool silent) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, parent);
    if (process) {
        WaitForSingleObject(process, 30000);
        CloseHandle(process);
    }
    char folder[MAX_PATH];
    snprintf(folder, sizeof folder, "%s", uninstaller);
    if (cut_to_folder(folder))
        return 1;
    const Texts *texts = texts_for(folder);
    remove_product(folder, uninstaller);
    if (!silent)
        MessageBoxW(NULL, texts->done, caption, MB_OK | MB_ICONINFORMATION);

    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, self, sizeof self);
    if (n > 0 && n < sizeof self)
        MoveFileExA(self, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    return 0;
}

// Copies this program into the temporary folder under a name of its own,
// created exclusively: whatever already stands in the folder, a file or a
// link planted under a name the copy might take, is never written over or
// through. copy receives the name; 0 on success.
static int copy_to_temp(const char *self, const char *temp, char *copy, size_t size) {
    HANDLE source = CreateFileA(self, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (source == INVALID_HANDLE_VALUE)
        return 1;
    HANDLE target = INVALID_HANDLE_VALUE;
    for (DWORD attempt = 0; attempt < 100 && target == INVALID_HANDLE_VALUE; ++attempt) {
        snprintf(copy, size, "%sZQUnInst-%lx-%lx.exe", temp, (unsigned long)GetCurrentProcessId(),
                 (unsigned long)(GetTickCount() + attempt));
        target = CreateFileA(copy, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        DWORD error = GetLastError();
        if (target == INVALID_HANDLE_VALUE && error != ERROR_FILE_EXISTS &&
            error != ERROR_ALREADY_EXISTS)
            break;
    }
    int failed = target == INVALID_HANDLE_VALUE;
    static char buffer[65536];
    DWORD got = 0, put = 0;
    while (!failed && ReadFile(source, buffer, sizeof buffer, &got, NULL) && got > 0)
        failed = !WriteFile(target, buffer, got, &put, NULL) || put != got;
    CloseHandle(source);
    if (target != INVALID_HANDLE_VALUE) {
        failed |= !CloseHandle(target);
        if (failed)
            DeleteFileA(copy);
    }
    return failed;
}

// Stage one: asks (unless silent), then hands over to a copy outside the
// install folder.
static int ask_stage(bool silent) {
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, self, sizeof self);
    if (n == 0 || n >= sizeof self)
        return 1;
    char folder[MAX_PATH];
    snprintf(folder, sizeof folder, "%s", self);
    if (cut_to_folder(folder))
        return 1;
    const Texts *texts = texts_for(folder);
    if (!silent && MessageBoxW(NULL, texts->question, caption, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return 0;

    char temp[MAX_PATH];
    char copy[MAX_PATH + 32];
    char command[3 * MAX_PATH];
    DWORD t = GetTempPathA(sizeof temp, temp);
    if (t > 0 && t < sizeof temp && copy_to_temp(self, temp, copy, sizeof copy) == 0) {
        snprintf(command, sizeof command, "\"%s\" /remove %lu \"%s\"%s", copy,
                 (unsigned long)GetCurrentProcessId(), self, silent ? " /S" : "");
        STARTUPINFOA startup;
        PROCESS_INFORMATION info;
        memset(&startup, 0, sizeof startup);
        startup.cb = sizeof startup;
        if (CreateProcessA(copy, command, NULL, NULL, FALSE, 0, NULL, temp, &startup, &info)) {
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
            return 0;
        }
        DeleteFileA(copy);
    }
    // No copy could be started: remove everything else now and this file at
    // the next restart.
    remove_product(folder, self);
    MoveFileExA(self, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    if (!silent)
        MessageBoxW(NULL, texts->done, caption, MB_OK | MB_ICONINFORMATION);
    return 0;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    restrict_dll_search();
    bool silent = __argc > 1 && _stricmp(__argv[__argc - 1], "/S") == 0;
    int plain = __argc - (silent ? 1 : 0);
    if (plain == 4 && strcmp(__argv[1], "/remove") == 0)
        return remove_stage((DWORD)strtoul(__argv[2], NULL, 10), __argv[3], silent);
    return ask_stage(silent);
}
