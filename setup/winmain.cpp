// The Windows entry point of ZQSETUP.EXE. The setup takes no arguments and
// reads no environment: everything it needs comes from its own file, the
// dialog and the registry, so the entry only hands over the instance handle.
#include "platform/win32_api.h"
#include "setup/setup_main.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return setup_main(instance);
}
