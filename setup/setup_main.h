// The setup program's GUI entry: the dialog run without arguments, the
// unattended setup with them; returns the exit code.
#pragma once

#include "platform/win32_api.h"

// arguments: the command line after the program's name.
int setup_main(HINSTANCE instance, const char *arguments);
