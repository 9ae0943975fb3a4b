// An auxiliary library run alone in a child, as the launcher runs it but
// with every step reported: it is loaded, both exports are looked up, its
// table is read, and the launcher's own kivLauncherCreateKivlLauncherData
// builds the block through a table of counting wrappers around the
// library's, so that each call, its result and where a crash or a hang
// happened are known. The block is sent and received as the launcher
// sends and receives it.
//
// The child's events: stage=<what it is about to do> (dlopen, dlsym,
// kivLauncherGetAPI, kivLauncherCreate, getDataSize, fillData, release,
// dlclose, send, done), dlopen-error=<loader text>, missing=<export>,
// table=null|set, null-entry=<table entry>, handle=null|set, size=<N>,
// fill=buffer|null|other, release=same|other (one per call), released=.
#ifndef DOCTOR_CONTRACT_PROBE_H
#define DOCTOR_CONTRACT_PROBE_H

#include <string>
#include <vector>

#include "child.h"
#include "launch_data.h"

struct ProbeRun {
    ChildRun run;
    bool received = false;  // a block arrived and passed the record check
    LaunchData data;        // its texts, when received
    std::string refusal;    // the launcher's line when a frame came but was refused
};

// Runs the library at `library` with the command line `argv` (argv[0]
// included) in a child, and receives what it built.
ProbeRun probeLibrary(const std::string &library, const std::vector<std::string> &argv);

// The table entries the run found null, comma-separated; "" when none.
std::string nullEntries(const ProbeRun &probe);

// How many times release was called in the run.
int releaseCalls(const ProbeRun &probe);

// Where the run stopped short, in words, for a library that gave no
// record: "kivLauncherCreate returned null", "getDataSize returned 0",
// "fillData returned null", or "<how the process ended> in <stage>".
std::string whereItStopped(const ProbeRun &probe);

#endif
