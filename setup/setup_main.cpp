#include "setup/setup_main.h"

#include "setup/setup_dialog.h"
#include "setup/setup_ids.h"
#include "setup/unattended.h"

// SetDefaultDllDirectories came with an update of Windows 7; older systems
// lack it, so it is looked up rather than imported.
typedef BOOL(WINAPI *SetDefaultDllDirectoriesCall)(DWORD flags);

// An installer is usually started from the downloads folder, where a DLL
// planted under a system DLL's name would be loaded in place of the system's
// by any later on-demand load (the shell's folder browser, COM, the common
// controls). Only System32 is searched from here on; where that cannot be
// set, at least the current folder leaves the search.
static void restrict_dll_search() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC found = kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    // Through void (*)(): the one function pointer type any other converts to
    // without a warning.
    SetDefaultDllDirectoriesCall set_default_directories =
        reinterpret_cast<SetDefaultDllDirectoriesCall>(reinterpret_cast<void (*)()>(found));
    if (!set_default_directories || !set_default_directories(LOAD_LIBRARY_SEARCH_SYSTEM32))
        SetDllDirectoryA("");
}

int setup_main(HINSTANCE instance, const char *arguments) {
    restrict_dll_search();
    // No system box for a drive without a medium, from the first look at the
    // previous installation's folder on.
    SetErrorMode(SEM_FAILCRITICALERRORS);
    // Arguments ask for the unattended setup; the dialog never sees them.
    if (has_arguments(arguments))
        return run_unattended(arguments);
    // The extraction keeps the one thread busy for a long time; the dialog
    // must not be replaced by a ghost window meanwhile.
    DisableProcessWindowsGhosting();
    // The dialog's template is in the instance's resources. The platform's
    // modal loop is the program's only one; its result does not matter, the
    // program ends with the dialog.
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SETUP), nullptr, setup_dialog_proc, 0);
    return 0;
}
