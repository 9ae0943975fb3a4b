// Steps "library interface" and "launch data": the auxiliary library
// loaded and asked for the launch data in a child exactly as the
// launcher's child does (obtainRecord, sendRecord), the frame received and
// checked as the launcher's parent does.
#ifndef DOCTOR_LAUNCH_STEP_H
#define DOCTOR_LAUNCH_STEP_H

#include <stdint.h>

#include <string>
#include <vector>

#include "kivlauncher_api.h"
#include "steps.h"

// Appends both steps (or the first, when it fails) to `report`. Returns
// the accepted, rebased record (heap memory, freed with free) with its
// size in *size, or null when a step failed. `argv` is the launcher's
// command line, argv[0] included.
KivlLauncherData *obtainLaunchData(const std::string &library,
                                   const std::vector<std::string> &argv, Report &report,
                                   int32_t *size);

#endif
