// The setup program's GUI entry: runs the setup dialog and returns 0.
#pragma once

#include "platform/win32_api.h"

int setup_main(HINSTANCE instance);
