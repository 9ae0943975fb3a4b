// What a request must be before anything is made: one line naming the
// input at fault and what to do, for each way it can be wrong.
#ifndef PACK_REQUEST_CHECK_H
#define PACK_REQUEST_CHECK_H

#include <string>

#include "pack_request.h"

// Checks `request` as the options gave it and completes what follows from
// it (the runtime from the launchers' mains, the install prefix, the
// vendor). Returns "" when it is sound, else the first problem.
std::string checkRequest(PackRequest &request);

// Whether `name` is a package name both dpkg and rpm take: lower-case
// letters, digits, '.', '+' and '-', starting with a letter or digit, at
// least two characters.
bool isPackageName(const std::string &name);

// Whether `version` is an upstream version both dpkg and rpm take:
// starting with a digit, then letters, digits, '.', '+' and '~'.
bool isPackageVersion(const std::string &version);

// `relative` inside directory `root`: "" when it is absolute or climbs out.
std::string insidePath(const std::string &root, const std::string &relative);

#endif
