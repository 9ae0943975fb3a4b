/* The start-up benchmark's floor: loads a runtime library and calls its
 * "HUX_Launch" the way the launcher does, with this program's arguments
 * after the library's path, and exits with its result. No fork, no
 * package queries, no auxiliary library.
 * Usage: startup_floor RUNTIME_LIBRARY [ARGUMENT...] */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "hux_runtime_api.h"

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: startup_floor RUNTIME_LIBRARY [ARGUMENT...]\n");
        return 2;
    }
    void *runtime = dlopen(argv[1], RTLD_NOW);
    void *symbol = runtime == NULL ? NULL : dlsym(runtime, "HUX_Launch");
    HuxLaunchFn entry;
    memcpy(&entry, &symbol, sizeof entry);
    if (symbol == NULL) {
        fprintf(stderr, "startup_floor: %s\n", dlerror());
        return 2;
    }
    return entry(argc - 2, argv + 2, 0, 0, 0, 0, "", "", "ruvo", "ruvo", 0, 0, 0, 0);
}
