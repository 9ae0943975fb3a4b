// Steps "executable", "package owner" and "auxiliary library": the
// launcher's real path, the package that owns it and where the launcher's
// own locator finds the auxiliary library, by the same commands.
#ifndef DOCTOR_PACKAGE_STEP_H
#define DOCTOR_PACKAGE_STEP_H

#include <string>

#include "steps.h"

// The result of the steps below, "" where they did not get that far.
struct LibraryLocation {
    std::string realExe;
    std::string library;
};

// Appends the three steps for the launcher at `exe` to `report`, stopping
// at the first that fails; returns what they found.
LibraryLocation locateLibrary(const std::string &exe, Report &report);

#endif
