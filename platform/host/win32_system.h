// Win32 on Linux, part 3: the few KERNEL32 calls of the setup front end
// beyond files (tests/winmodel/system.cpp implements them).
#pragma once

#include "platform/host/win32_base.h"

#define SEM_FAILCRITICALERRORS 0x0001
#define CP_ACP 0
UINT SetErrorMode(UINT mode);
typedef INT_PTR(WINAPI *FARPROC)();
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
// nullptr names the program's own module.
HMODULE GetModuleHandleA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL SetDllDirectoryA(LPCSTR path);
DWORD GetModuleFileNameA(HMODULE module, LPSTR path, DWORD size);
UINT GetWindowsDirectoryA(LPSTR path, UINT size);
int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int length, LPWSTR wide,
                        int wide_count);
// On Linux the clock is the Windows model's, virtual: Sleep advances it,
// nothing else does.
DWORD GetTickCount();
void Sleep(DWORD milliseconds);
