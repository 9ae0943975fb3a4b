// The launch data of a received record, held as text, and how it is shown.
#ifndef DOCTOR_LAUNCH_DATA_H
#define DOCTOR_LAUNCH_DATA_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "kivlauncher_api.h"
#include "steps.h"

struct LaunchData {
    int32_t size = 0;
    std::string runtime;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> env;
};

// Whether two launch data name the same runtime library, arguments and
// variables (their sizes may differ).
bool sameLaunchData(const LaunchData &a, const LaunchData &b);

// The texts of a checked and rebased record of `size` bytes.
LaunchData launchDataOf(const KivlLauncherData *record, int32_t size);

// Adds the runtime library, each argument and each variable to `step`,
// in the launcher's bracketed form.
void addLaunchDataDetail(Step &step, const LaunchData &data);

// Receives a frame sent with sendRecord, as the launcher's parent does:
// receiveBlock, then acceptRecord (the record check and the rebase).
// Returns the record (heap memory, freed with free) with its size, or null
// with the launcher's log line in *why and, in *rejected, whether the frame
// came whole but the record check refused the block.
KivlLauncherData *receiveFrame(const std::string &frame, int32_t *size, std::string *why,
                               bool *rejected);

#endif
