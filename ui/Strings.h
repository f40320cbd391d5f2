// The module's string table: rollout titles, undo texts, list entries and the parameters'
// display names, by the IDs of object/ParamIds.h.
#pragma once

#include <map>
#include <string>

#include "host/win.h"

namespace velquin {

const std::map<UINT, std::string>& moduleStrings();
// Registers the table with the window system under the module's instance handle.
void registerModuleStrings(HINSTANCE instance);

} // namespace velquin
