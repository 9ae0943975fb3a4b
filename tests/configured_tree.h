// Application trees whose lib/ holds the reference auxiliary library and
// a given applauncher.cfg, for the tests that run the launcher with it.
#ifndef CONFIGURED_TREE_H
#define CONFIGURED_TREE_H

#include <fstream>
#include <string>
#include <vector>

#include "launch_harness.h"

using Strings = std::vector<std::string>;

// An application tree whose lib/ holds the reference library and the
// given applauncher.cfg.
struct ConfiguredTree {
    AppTree tree{"app", false};
    std::string configPath = tree.appDir + "/lib/applauncher.cfg";

    explicit ConfiguredTree(const std::string &config) {
        tree.installLibrary(REFERENCE_AUX_LIBRARY, tree.libPath);
        std::ofstream(configPath) << config;
    }
};

// Lines of standard error that are not debug lines.
inline Strings plainLines(const std::string &stderrText) {
    Strings lines;
    for (const DebugLine &line : debugLines(stderrText)) {
        if (line.pid == 0) {
            lines.push_back(line.message);
        }
    }
    return lines;
}

#endif
