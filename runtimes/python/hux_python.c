/* Runtime launcher library for CPython: its "HUX_Launch" runs the
 * interpreter with the launch data's argument vector, as the python3
 * command would with the same arguments, and returns the exit status. */
#define _GNU_SOURCE
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <dlfcn.h>
#include <stdint.h>

#define EXPORTED __attribute__((visibility("default")))

/* Extension modules that the interpreter loads later expect its symbols in
 * the global scope, but this library (and libpython with it) was loaded
 * with local binding. Reopening libpython with RTLD_GLOBAL promotes it for
 * good; the extra reference is dropped again. */
static void promoteInterpreterSymbols(void) {
    Dl_info info;
    if (dladdr((void *)Py_None, &info) != 0 && info.dli_fname != NULL) {
        void *self = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL);
        if (self == NULL) {
            (void)fprintf(stderr, "hux python: %s\n", dlerror());
        } else {
            dlclose(self);
        }
    }
}

/* Runs the interpreter with argCount and args as its command line (args[0]
 * is the program name); returns the status the interpreter exits with. The
 * other twelve arguments carry nothing for this runtime. */
EXPORTED int32_t HUX_Launch(int32_t argCount, char **args, uint64_t w3, uint64_t w4,
                            uint64_t w5, uint64_t w6, const char *t7, const char *t8,
                            const char *t9, const char *t10, uint64_t w11, uint64_t w12,
                            uint64_t w13, uint64_t w14) {
    (void)w3, (void)w4, (void)w5, (void)w6, (void)t7, (void)t8, (void)t9, (void)t10;
    (void)w11, (void)w12, (void)w13, (void)w14;
    promoteInterpreterSymbols();
    if (argCount < 1 || args == NULL) {
        static char programName[] = "python3";
        char *fallback[] = {programName, NULL};
        return Py_BytesMain(1, fallback);
    }
    return Py_BytesMain(argCount, args);
}
