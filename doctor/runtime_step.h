// Steps "runtime library" and "runtime check": the runtime library the
// launch data names, loaded in a child as the launcher's parent loads it,
// its entry looked up, the launch data's variables set as the launcher sets
// them, and the library's own HUX_Check asked in the entry's place. The
// entry itself is never called.
#ifndef DOCTOR_RUNTIME_STEP_H
#define DOCTOR_RUNTIME_STEP_H

#include <string>
#include <vector>

#include "kivlauncher_api.h"
#include "steps.h"

// Appends both steps (or the first, when it fails) to `report`.
void checkRuntime(const KivlLauncherData *record, Report &report);

// The needed libraries of the library at `path` that the dynamic loader
// cannot find, and the symbols it cannot resolve, as the loader's own
// trace (LD_TRACE_LOADED_OBJECTS with LD_BIND_NOW and LD_WARN, the loader
// being this program's PT_INTERP) reports them, one line each.
std::vector<std::string> unresolvedNeeds(const std::string &path);

#endif
