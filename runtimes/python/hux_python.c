/* Runtime launcher library for CPython: its "HUX_Launch" runs the
 * interpreter with the launch data's argument vector, as the python3
 * command would with the same arguments, and returns the exit status.
 * sys.executable is the real interpreter of the same CPython (or that of
 * the virtual environment HUX_PYTHON_VENV names), so that whatever starts
 * the interpreter again runs exactly the arguments it gives. */
#define _GNU_SOURCE
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <dlfcn.h>
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "hux_runtime_api.h"
#include "runtime_trace.h"
#include "secure_environment.h"
#include "interpreter_choice.h"

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

/* The problem of a failed choice; memory running out leaves none. */
static const char *problemOf(const HuxInterpreter *chosen) {
    return chosen->problem != NULL ? chosen->problem : strerror(ENOMEM);
}

/* Runs the interpreter as Py_BytesMain does, with `executable` as
 * sys.executable: the pre-configuration reads the command line first (so
 * that -X utf8, -E and -I decide how the arguments are decoded), then the
 * configuration takes the arguments and the executable, from which the
 * interpreter computes the rest of its path configuration (a pyvenv.cfg
 * beside or above it makes its directory's parent sys.prefix). In secure
 * mode the interpreter runs isolated (-I): the caller's PYTHON* variables
 * and user site directory choose nothing. Returns the
 * exit status; a failed initialisation is reported by the interpreter,
 * which then ends the process. */
static int runInterpreter(int argCount, char **args, const char *executable) {
    PyPreConfig preconfig;
    PyPreConfig_InitPythonConfig(&preconfig);
    preconfig.isolated = huxSecureMode();
    PyStatus status = Py_PreInitializeFromBytesArgs(&preconfig, argCount, args);
    if (PyStatus_Exception(status)) {
        if (PyStatus_IsExit(status)) {
            return status.exitcode;
        }
        Py_ExitStatusException(status);
    }
    PyConfig config;
    PyConfig_InitPythonConfig(&config);
    config.isolated = huxSecureMode();
    status = PyConfig_SetBytesArgv(&config, argCount, args);
    if (!PyStatus_Exception(status)) {
        status = PyConfig_SetBytesString(&config, &config.executable, executable);
    }
    if (!PyStatus_Exception(status)) {
        status = Py_InitializeFromConfig(&config);
    }
    PyConfig_Clear(&config);
    if (PyStatus_Exception(status)) {
        if (PyStatus_IsExit(status)) {
            return status.exitcode;
        }
        Py_ExitStatusException(status);
    }
    return Py_RunMain();
}

/* Runs the interpreter with argCount and args as its command line (args[0]
 * is the program name); returns the status the interpreter exits with, or
 * 1 after one line on standard error when HUX_PYTHON_VENV names no virtual
 * environment or the interpreter to name as sys.executable is missing. The
 * other twelve arguments carry nothing for this runtime. */
int32_t HUX_Launch(int32_t argCount, char **args, uint64_t w3, uint64_t w4, uint64_t w5,
                   uint64_t w6, const char *t7, const char *t8, const char *t9, const char *t10,
                   uint64_t w11, uint64_t w12, uint64_t w13, uint64_t w14) {
    (void)w3, (void)w4, (void)w5, (void)w6, (void)t7, (void)t8, (void)t9, (void)t10;
    (void)w11, (void)w12, (void)w13, (void)w14;
    HuxInterpreter chosen;
    if (!huxChooseInterpreter(&chosen)) {
        (void)fprintf(stderr, "hux python: %s\n", problemOf(&chosen));
        huxReleaseInterpreter(&chosen);
        return 1;
    }
    if (chosen.venv != NULL) {
        huxTrace("python: venv [%s]", chosen.venv);
    }
    huxTrace("python: executable [%s]", chosen.executable);
    promoteInterpreterSymbols();
    static char programName[] = "python3";
    char *fallback[] = {programName, NULL};
    int status = argCount < 1 || args == NULL ? runInterpreter(1, fallback, chosen.executable)
                                              : runInterpreter(argCount, args, chosen.executable);
    huxReleaseInterpreter(&chosen);
    return status;
}

/* Says, without starting the interpreter, whether what HUX_Launch needs is
 * there with the current environment: returns 0 and a description of the
 * interpreter it would name, or 1 and the problem with what to do, as one
 * line in `message`, zero-terminated and truncated to `size` bytes. */
int32_t HUX_Check(char *message, int32_t size, int32_t argCount, char **args) {
    (void)argCount, (void)args;
    HuxInterpreter chosen;
    int usable = huxChooseInterpreter(&chosen);
    if (message != NULL && size > 0) {
        size_t room = (size_t)size;
        if (!usable) {
            (void)snprintf(message, room, "python: %s", problemOf(&chosen));
        } else if (chosen.venv != NULL) {
            (void)snprintf(message, room, "python: venv %s, %s", chosen.venv, chosen.executable);
        } else {
            (void)snprintf(message, room, "python: %s (CPython %lu.%lu.%lu)", chosen.executable,
                           (Py_Version >> 24) & 0xffUL, (Py_Version >> 16) & 0xffUL,
                           (Py_Version >> 8) & 0xffUL);
        }
    }
    huxReleaseInterpreter(&chosen);
    return usable ? 0 : 1;
}
