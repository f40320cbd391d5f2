// The module's dialog resources: the five rollouts and the "Add Particle Flow Events" dialog, as
// templates of the window system, registered with the string table under the module's handle.
#pragma once

#include <vector>

#include "host/win.h"

namespace velquin {

// The About rollout's lines that name the project's people.
inline constexpr const char* kAboutAuthor = "The VelquinMetaball developers";
inline constexpr const char* kAboutContact = "velquin-metaball@users.invalid";
inline constexpr const char* kAboutVersion = "Version 1.14";

// Control IDs of the rollouts that the dialog procedures handle.
inline constexpr int IDC_PICK = 1334;        // Node Parameters: "Pick"
inline constexpr int IDC_ADD_NODES = 1332;   // Node Parameters: "Add"
inline constexpr int IDC_REMOVE_NODE = 1333; // Node Parameters: "Remove"
inline constexpr int IDC_ADD_EVENTS = 1001;  // Particle Flow Parameters: "Add"
inline constexpr int IDC_EVENT_LIST = 1265;  // "Add Particle Flow Events": the events

// The six dialog templates: 103, 212, 210, 102, 211 (rollouts) and 209 (the events dialog).
std::vector<DialogTemplate> dialogTemplates();

// Registers the dialog templates and the string table under the module's instance handle; the
// module entry calls it when the module loads.
void registerUiResources(HINSTANCE instance);

} // namespace velquin
