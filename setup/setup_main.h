// The setup program's GUI entry: runs the setup dialog and returns 0.
#pragma once

#include "platform/win32_api.h"

// The program's own instance, kept for the path of its executable.
extern HINSTANCE setup_instance;

int setup_main(HINSTANCE instance);
