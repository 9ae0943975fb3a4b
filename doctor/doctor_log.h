// The doctor's side of the launcher's log (launcher.h): the lines that the
// launcher's own code logs while the doctor runs it.
#ifndef DOCTOR_LOG_H
#define DOCTOR_LOG_H

#include <string>
#include <vector>

// The lines logged in this (parent) process since the last call, in
// order; they are forgotten here.
std::vector<std::string> takeParentLog();

#endif
