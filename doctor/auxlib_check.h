// applauncher-doctor --auxlib: an auxiliary library checked alone against
// the binary contract, for its author.
#ifndef DOCTOR_AUXLIB_CHECK_H
#define DOCTOR_AUXLIB_CHECK_H

#include <string>
#include <vector>

#include "steps.h"

// Runs the library at `library` twice with the command line `argv`
// (argv[0] included), each time in a child (contract_probe.h), and tells
// the steps: it loads; both exports; a table with every entry set; a
// handle; a size of at least 40; fillData returning its buffer; release
// called once with the handle and the library unloaded; a block that
// passes the record check; the same launch data from the second run.
Report checkAuxLibrary(const std::string &library, const std::vector<std::string> &argv);

#endif
