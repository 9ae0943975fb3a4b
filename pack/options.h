// applauncher-pack's command line: long options that read as sentences,
// each checked for its form here (what the values mean is checked by
// checkRequest, pack/request_check.h).
#ifndef PACK_OPTIONS_H
#define PACK_OPTIONS_H

#include <string>
#include <vector>

#include "pack_request.h"

// What the command line asks for: a request, the help text, or an error.
struct CommandLine {
    bool help = false;
    std::string error;  // one line naming the option at fault, "" when none
    PackRequest request;
};

// The usage text that --help prints and a usage error follows.
extern const char packUsage[];

// Reads argv[1..argc-1], each --options-file FILE read in its place (one
// word a line, "\n" a line break, "\\" a backslash; it names no other
// options file). Options after --launcher NAME describe that
// launcher; before the first, the main one, named by --name. SOURCE_DATE_EPOCH
// from the environment gives the time stamps unless --source-date-epoch
// does. Never fails otherwise than by setting `error`.
CommandLine parseCommandLine(int argc, char **argv);

// Appends to `out` each piece of `text` between `separator`s, skipping
// empty ones: the lists options take, and the lines and words of what the
// tools a pack runs print.
void appendSplit(std::vector<std::string> &out, const std::string &text, char separator);

#endif
