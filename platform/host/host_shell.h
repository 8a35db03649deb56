// Host model of Windows, part 2: dialogs, registry, INI files, special
// folders, window lists and the shell-link object.
#pragma once

#include "platform/host/host_base.h"
