// The Windows entry point of ZQSETUP.EXE. Everything the setup needs comes
// from its own file, the dialog (or the command line, for an unattended
// installation) and the registry; it reads no environment. The command line
// is handed over as the system gives it, since /D takes the rest of it,
// blanks and all.
#include "platform/win32_api.h"
#include "setup/setup_main.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int) {
    return setup_main(instance, arguments ? arguments : "");
}
