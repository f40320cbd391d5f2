// The window system as the plug-in sees it: dialog resources, dialog procedures and messages,
// controls, string tables and cursors.
#pragma once

#include "platform/win/dialogs.h"
#include "platform/win/wintypes.h"
