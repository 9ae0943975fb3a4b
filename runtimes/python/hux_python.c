/* Runtime launcher library for CPython: its "HUX_Launch" runs the
 * interpreter with the launch data's argument vector, as the python3
 * command would with the same arguments, and returns the exit status.
 * sys.executable is the real interpreter of the same CPython (or that of
 * the virtual environment HUX_PYTHON_VENV names), so that whatever starts
 * the interpreter again runs exactly the arguments it gives.
 *
 * Three words of the argument vector, among the interpreter's own options
 * (before the script, -c or -m), are the library's: "--entry-point
 * MODULE:FUNCTION" runs a function as a console script runs it,
 * "--module-path DIR" puts the directory DIR of the application's own code
 * in front of the module search path (as PYTHONPATH would, but from the
 * launch data, so that it holds in secure mode too), and
 * "--no-safe-path" puts back in front of sys.path the directory that the
 * python3 command puts there (the script's, the working directory for -m,
 * the program's for an entry point), which the library leaves out
 * otherwise (PyConfig.safe_path, python3 -P). */
#define _GNU_SOURCE
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <dlfcn.h>
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <wchar.h>

#include "hux_runtime_api.h"
#include "runtime_trace.h"
#include "secure_environment.h"
#include "interpreter_choice.h"
#include "python_texts.h"

/* What the -c command of the entry-point form runs after entry_point.py:
 * the function named by sys.argv[1], which it takes out of sys.argv, called
 * as a console script calls it. */
static const char entryPointCall[] = "sys.exit(_hux_load_entry_point(sys.argv.pop(1))())\n";
static char entryPointCommand[sizeof huxEntryPointText - 1 + sizeof entryPointCall];
static char commandOption[] = "-c";

/* The launch data's argument vector as the library passes it to the
 * interpreter's command line: its own words taken out, "--entry-point
 * SPEC" become "-c <entryPointCommand> SPEC". */
typedef struct {
    int count;
    char **args;            /* heap array of borrowed strings, null-terminated */
    const char *entryPoint; /* the entry point's MODULE:FUNCTION, or null */
    char **modulePaths;     /* the --module-path directories, in order (borrowed) */
    int modulePathCount;
    int safePath;           /* 0 after --no-safe-path, else 1 */
    int rewritten;          /* whether args differs from the launch data's */
    const char *problem;    /* the interpreter's kind of line for a refused command line, or null */
} HuxCommandLine;

/* Whether the word of python3's options `word` (which starts with '-')
 * ends them: -c or -m somewhere in a group of short options ("-Ec"), after
 * which comes the program's own. Sets *takesNext when the last option of
 * the word takes the next word as its value (-W, -X, -c, -m alone,
 * --check-hash-based-pycs). */
static int endsOptions(const char *word, int *takesNext) {
    *takesNext = 0;
    if (word[1] == '-') {
        *takesNext = strcmp(word, "--check-hash-based-pycs") == 0;
        return 0;
    }
    for (const char *option = word + 1; *option != '\0'; option++) {
        if (*option == 'c' || *option == 'm') {
            return 1;
        }
        if (*option == 'W' || *option == 'X') {
            *takesNext = option[1] == '\0';
            return 0;
        }
    }
    return 0;
}

/* The -c command of the entry-point form, entry_point.py followed by
 * entryPointCall, made at the first call. */
static char *theEntryPointCommand(void) {
    if (entryPointCommand[0] == '\0') {
        memcpy(entryPointCommand, huxEntryPointText, sizeof huxEntryPointText - 1);
        memcpy(entryPointCommand + sizeof huxEntryPointText - 1, entryPointCall,
               sizeof entryPointCall);
    }
    return entryPointCommand;
}

/* Reads args[1..argCount-1] as python3 reads its options, up to the
 * script, "-", "--", -c or -m, taking out --no-safe-path and turning
 * "--entry-point SPEC" into the entry-point command; fills `line` (release
 * it with releaseCommandLine). Returns 0 when memory ran out. */
static int readCommandLine(int argCount, char **args, HuxCommandLine *line) {
    line->count = 0;
    line->entryPoint = NULL;
    line->modulePaths = NULL;
    line->modulePathCount = 0;
    line->safePath = 1;
    line->rewritten = 0;
    line->problem = NULL;
    line->args = malloc(((size_t)argCount + 3) * sizeof *line->args);
    line->modulePaths = malloc((size_t)argCount * sizeof *line->modulePaths);
    if (line->args == NULL || line->modulePaths == NULL) {
        free(line->args);
        free(line->modulePaths);
        line->args = NULL;
        line->modulePaths = NULL;
        return 0;
    }
    int out = 0;
    line->args[out++] = args[0];
    int next = 1;
    while (next < argCount) {
        char *word = args[next++];
        if (strcmp(word, "--no-safe-path") == 0) {
            line->safePath = 0;
            line->rewritten = 1;
            continue;
        }
        if (strcmp(word, "--module-path") == 0) {
            line->rewritten = 1;
            if (next >= argCount) {
                line->problem = "Argument expected for the --module-path option";
                break;
            }
            line->modulePaths[line->modulePathCount++] = args[next++];
            continue;
        }
        if (strcmp(word, "--entry-point") == 0) {
            line->rewritten = 1;
            if (next >= argCount) {
                line->problem = "Argument expected for the --entry-point option";
                break;
            }
            line->entryPoint = args[next];
            line->args[out++] = commandOption;
            line->args[out++] = theEntryPointCommand();
            break;
        }
        line->args[out++] = word;
        int takesNext = 0;
        if (word[0] != '-' || word[1] == '\0' || strcmp(word, "--") == 0 ||
            endsOptions(word, &takesNext)) {
            break;
        }
        if (takesNext && next < argCount) {
            line->args[out++] = args[next++];
        }
    }
    while (next < argCount) {
        line->args[out++] = args[next++];
    }
    line->args[out] = NULL;
    line->count = out;
    return 1;
}

/* Frees what readCommandLine allocated. */
static void releaseCommandLine(HuxCommandLine *line) {
    free(line->args);
    free(line->modulePaths);
    line->args = NULL;
    line->modulePaths = NULL;
}


/* Puts the --module-path directories of `line`, in their order, in front
 * of the module search path, as PYTHONPATH would (before what PYTHONPATH
 * gives, when the interpreter reads it): through the configuration's
 * pythonpath_env, which the path calculation takes in isolated mode too. */
static PyStatus addModulePaths(PyConfig *config, const HuxCommandLine *line) {
    int count = line->modulePathCount;
    wchar_t **paths = calloc((size_t)count, sizeof *paths);
    if (paths == NULL) {
        return PyStatus_NoMemory();
    }
    size_t length = config->pythonpath_env != NULL ? wcslen(config->pythonpath_env) : 0;
    int decoded = 0;
    while (decoded < count) {
        paths[decoded] = Py_DecodeLocale(line->modulePaths[decoded], NULL);
        if (paths[decoded] == NULL) {
            break;
        }
        length += wcslen(paths[decoded]) + 1;
        decoded++;
    }
    wchar_t *joined = decoded == count ? calloc(length + 1, sizeof *joined) : NULL;
    PyStatus status = PyStatus_NoMemory();
    if (joined != NULL) {
        for (int i = 0; i < count; i++) {
            wcscat(joined, paths[i]);
            wcscat(joined, i + 1 < count ? L":" : L"");
        }
        if (config->pythonpath_env != NULL && config->pythonpath_env[0] != L'\0') {
            wcscat(joined, L":");
            wcscat(joined, config->pythonpath_env);
        }
        status = PyConfig_SetString(config, &config->pythonpath_env, joined);
        free(joined);
    }
    for (int i = 0; i < decoded; i++) {
        PyMem_RawFree(paths[i]);
    }
    free(paths);
    return status;
}

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

/* Pre-initialises the interpreter from the command line `line`, as
 * Py_BytesMain does (so that -X utf8, -E and -I decide how the arguments
 * are decoded); in secure mode isolated (-I). */
static PyStatus preinitialize(const HuxCommandLine *line) {
    PyPreConfig preconfig;
    PyPreConfig_InitPythonConfig(&preconfig);
    preconfig.isolated = huxSecureMode();
    return Py_PreInitializeFromBytesArgs(&preconfig, line->count, line->args);
}

/* For the entry-point form: sys.argv[0] becomes the launch data's argv[0]
 * (which the interpreter's reading of "-c" replaced), so that the program
 * bears its own name, and so that without the safe path its directory is
 * the one put in front of sys.path. */
static PyStatus nameTheProgram(PyConfig *config) {
    wchar_t **items = malloc((size_t)config->argv.length * sizeof *items);
    if (items == NULL) {
        return PyStatus_NoMemory();
    }
    memcpy(items, config->argv.items, (size_t)config->argv.length * sizeof *items);
    items[0] = config->orig_argv.items[0];
    PyStatus status = PyConfig_SetWideStringList(config, &config->argv, config->argv.length, items);
    free(items);
    return status;
}

/* Fills and reads `config` (initialised here; clear it in any case) for
 * the command line `line` made of the launch data argCount and args, with
 * `executable` as sys.executable, isolated in secure mode, and the safe
 * path unless the command line turned it off: sys.orig_argv keeps the
 * launch data's arguments. Returns the first failed step's status. */
static PyStatus configure(PyConfig *config, const HuxCommandLine *line, int argCount, char **args,
                          const char *executable) {
    PyConfig_InitPythonConfig(config);
    config->isolated = huxSecureMode();
    config->safe_path = line->safePath;
    PyStatus status = PyStatus_Ok();
    if (line->rewritten) {
        status = PyConfig_SetBytesArgv(config, argCount, args);
        if (!PyStatus_Exception(status)) {
            status = PyConfig_SetWideStringList(config, &config->orig_argv, config->argv.length,
                                                config->argv.items);
        }
    }
    if (!PyStatus_Exception(status)) {
        status = PyConfig_SetBytesArgv(config, line->count, line->args);
    }
    if (!PyStatus_Exception(status)) {
        status = PyConfig_SetBytesString(config, &config->executable, executable);
    }
    if (!PyStatus_Exception(status)) {
        status = PyConfig_Read(config);
    }
    if (!PyStatus_Exception(status) && line->entryPoint != NULL) {
        status = nameTheProgram(config);
    }
    if (!PyStatus_Exception(status) && line->modulePathCount > 0) {
        status = addModulePaths(config, line);
    }
    return status;
}

/* Runs the interpreter as Py_BytesMain does, on the command line `line`
 * made of the launch data argCount and args, with `executable` as
 * sys.executable, from which the interpreter computes the rest of its path
 * configuration (a pyvenv.cfg beside or above it makes its directory's
 * parent sys.prefix). In secure mode the interpreter runs isolated (-I):
 * the caller's PYTHON* variables and user site directory choose nothing.
 * Returns the exit status; a failed initialisation is reported by the
 * interpreter, which then ends the process. */
static int runInterpreter(const HuxCommandLine *line, int argCount, char **args,
                          const char *executable) {
    PyStatus status = preinitialize(line);
    if (PyStatus_Exception(status)) {
        if (PyStatus_IsExit(status)) {
            return status.exitcode;
        }
        Py_ExitStatusException(status);
    }
    PyConfig config;
    status = configure(&config, line, argCount, args, executable);
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
 * is the program name), the library's own words read first; returns the
 * status the interpreter exits with, or 1 after one line on standard error
 * when HUX_PYTHON_VENV names no virtual environment or the interpreter to
 * name as sys.executable is missing, or 2 after one line when
 * --entry-point lacks its value. The other twelve arguments carry nothing
 * for this runtime. */
int32_t HUX_Launch(int32_t argCount, char **args, uint64_t w3, uint64_t w4, uint64_t w5,
                   uint64_t w6, const char *t7, const char *t8, const char *t9, const char *t10,
                   uint64_t w11, uint64_t w12, uint64_t w13, uint64_t w14) {
    (void)w3, (void)w4, (void)w5, (void)w6, (void)t7, (void)t8, (void)t9, (void)t10;
    (void)w11, (void)w12, (void)w13, (void)w14;
    static char programName[] = "python3";
    char *fallback[] = {programName, NULL};
    if (argCount < 1 || args == NULL) {
        argCount = 1;
        args = fallback;
    }
    HuxInterpreter chosen;
    HuxCommandLine line;
    int status = 1;
    if (!huxChooseInterpreter(&chosen)) {
        (void)fprintf(stderr, "hux python: %s\n", problemOf(&chosen));
    } else if (!readCommandLine(argCount, args, &line)) {
        (void)fprintf(stderr, "hux python: %s\n", strerror(ENOMEM));
    } else {
        if (line.problem != NULL) {
            (void)fprintf(stderr, "%s\n", line.problem);
            status = 2;
        } else {
            if (chosen.venv != NULL) {
                huxTrace("python: venv [%s]", chosen.venv);
            }
            huxTrace("python: executable [%s]", chosen.executable);
            if (line.entryPoint != NULL) {
                huxTrace("python: entry point [%s]", line.entryPoint);
            }
            promoteInterpreterSymbols();
            status = runInterpreter(&line, argCount, args, chosen.executable);
        }
        releaseCommandLine(&line);
    }
    huxReleaseInterpreter(&chosen);
    return status;
}

/* Standard output and error sent to a temporary file while the
 * interpreter reads its command line, so that the check can quote it. */
typedef struct {
    FILE *file;    /* the temporary file, or null when none could be had */
    int saved[2];  /* the descriptors 1 and 2 had */
} HuxCapture;

/* Starts sending descriptors 1 and 2 to a fresh temporary file; with none,
 * nothing changes. */
static void startCapture(HuxCapture *capture) {
    (void)fflush(stdout);
    (void)fflush(stderr);
    capture->file = tmpfile();
    capture->saved[0] = capture->file != NULL ? dup(1) : -1;
    capture->saved[1] = capture->file != NULL ? dup(2) : -1;
    if (capture->saved[0] < 0 || capture->saved[1] < 0 || dup2(fileno(capture->file), 1) < 0 ||
        dup2(fileno(capture->file), 2) < 0) {
        if (capture->saved[0] >= 0) {
            (void)dup2(capture->saved[0], 1);
        }
        if (capture->saved[1] >= 0) {
            (void)dup2(capture->saved[1], 2);
        }
    }
}

/* Gives descriptors 1 and 2 back; returns the first line written since
 * startCapture (heap memory, without its newline), or null when nothing
 * was written or none could be captured. */
static char *endCapture(HuxCapture *capture) {
    (void)fflush(stdout);
    (void)fflush(stderr);
    char *first = NULL;
    for (int i = 0; i < 2; i++) {
        if (capture->saved[i] >= 0) {
            (void)dup2(capture->saved[i], i + 1);
            close(capture->saved[i]);
        }
    }
    if (capture->file != NULL) {
        size_t room = 0;
        rewind(capture->file);
        if (getline(&first, &room, capture->file) > 0) {
            first[strcspn(first, "\n")] = '\0';
        } else {
            free(first);
            first = NULL;
        }
        (void)fclose(capture->file);
    }
    return first;
}

/* What the check says about a reading of the command line that ended with
 * `status`, the interpreter's own first line `said` (or null) quoted, as
 * the launch would end: "Fatal Python error: ..." for an error; for an
 * exit, the line it printed. Sets *refused unless the exit status is 0
 * (--version, --help). Heap memory. */
static char *describeEnd(PyStatus status, const char *said, int *refused) {
    *refused = !PyStatus_IsExit(status) || status.exitcode != 0;
    if (!PyStatus_IsExit(status)) {
        return status.func != NULL
                   ? huxFormatText("Fatal Python error: %s: %s: correct the interpreter's "
                                   "options and variables in the launch data",
                                   status.func, status.err_msg)
                   : huxFormatText("Fatal Python error: %s: correct the interpreter's options "
                                   "and variables in the launch data",
                                   status.err_msg);
    }
    if (!*refused) {
        return huxFormatText("the interpreter's options end it before any application: %s",
                             said != NULL ? said : "exit status 0");
    }
    return said != NULL ? huxFormatText("%s (exit status %d): correct the interpreter's options "
                                        "in the launch data",
                                        said, status.exitcode)
                        : huxFormatText("the interpreter's options end it with exit status %d: "
                                        "correct them in the launch data",
                                        status.exitcode);
}

/* A wide string of the configuration as a Python str (a new reference;
 * None for null). */
static PyObject *textOf(const wchar_t *text) {
    if (text == NULL) {
        Py_RETURN_NONE;
    }
    return PyUnicode_FromWideChar(text, -1);
}

/* Runs module_check.py's _hux_check in the running interpreter for what
 * `config` (as read for the launch, with `addSite` its site_import) and
 * `entryPoint` make it run: returns its text (heap memory, UTF-8 with
 * unencodable characters escaped) and sets *refused from its answer; on a
 * failure of the check's own code, the exception's line and not refused. */
static char *runModuleCheck(const PyConfig *config, const char *entryPoint, int addSite,
                            int *refused) {
    const char *kind = entryPoint != NULL              ? "entry point"
                       : config->run_module != NULL   ? "module"
                                                       : "script";
    PyObject *target = entryPoint != NULL ? PyUnicode_DecodeFSDefault(entryPoint)
                       : config->run_module != NULL ? textOf(config->run_module)
                                                     : textOf(config->run_filename);
    PyObject *globals = PyDict_New();
    PyObject *result = NULL;
    if (target != NULL && globals != NULL &&
        PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins()) == 0) {
        PyObject *parser = PyRun_String(huxEntryPointText, Py_file_input, globals, globals);
        PyObject *defined = parser != NULL ? PyRun_String(huxModuleCheckText, Py_file_input,
                                                          globals, globals)
                                           : NULL;
        PyObject *check = defined != NULL ? PyDict_GetItemString(globals, "_hux_check") : NULL;
        PyObject *program = textOf(config->program_name);
        PyObject *argv0 = textOf(config->orig_argv.items[0]);
        if (check != NULL && program != NULL && argv0 != NULL) {
            result = PyObject_CallFunction(check, "sOOOii", kind, target, program, argv0,
                                           config->safe_path, addSite);
        }
        Py_XDECREF(argv0);
        Py_XDECREF(program);
        Py_XDECREF(defined);
        Py_XDECREF(parser);
    }
    PyObject *text = NULL;
    if (result != NULL && PyTuple_Check(result) && PyTuple_Size(result) == 2) {
        *refused = !PyObject_IsTrue(PyTuple_GetItem(result, 0));
        text = PyUnicode_AsEncodedString(PyTuple_GetItem(result, 1), "utf-8", "backslashreplace");
    }
    char *said = NULL;
    if (text != NULL) {
        said = huxFormatText("%s", PyBytes_AsString(text));
    } else {
        *refused = 0;
        PyObject *type, *value, *traceback;
        PyErr_Fetch(&type, &value, &traceback);
        PyObject *line = value != NULL ? PyObject_Str(value) : NULL;
        PyObject *bytes = line != NULL
                              ? PyUnicode_AsEncodedString(line, "utf-8", "backslashreplace")
                              : NULL;
        said = huxFormatText("could not check what it runs: %s",
                             bytes != NULL ? PyBytes_AsString(bytes) : "no reason given");
        Py_XDECREF(bytes);
        Py_XDECREF(line);
        Py_XDECREF(type);
        Py_XDECREF(value);
        Py_XDECREF(traceback);
        PyErr_Clear();
    }
    Py_XDECREF(text);
    Py_XDECREF(result);
    Py_XDECREF(globals);
    Py_XDECREF(target);
    return said;
}

/* Reads the launch data argCount and args exactly as HUX_Launch would, with
 * `executable` as sys.executable, and checks what they make it run without
 * running it: the library's own words, the interpreter's reading of its
 * command line (PyConfig_Read, its words captured), then, for a script,
 * -m or an entry point, in the interpreter started as the launch would
 * start it but without the site module, module_check.py. The interpreter
 * stays initialised: call it in a process of its own (applauncher-doctor
 * does). Returns what it found (heap memory, null when memory ran out, or
 * when there is nothing to add: -c, standard input, the interactive
 * interpreter) and sets *refused when the launch would refuse it. */
static char *readAsTheLaunch(int argCount, char **args, const char *executable, int *refused) {
    *refused = 0;
    if (Py_IsInitialized()) {
        return huxFormatText("arguments not read: an interpreter already runs in this process");
    }
    HuxCommandLine line;
    if (!readCommandLine(argCount, args, &line)) {
        *refused = 1;
        return NULL;
    }
    char *said = NULL;
    PyConfig config;
    PyConfig_InitPythonConfig(&config);
    if (line.problem != NULL) {
        *refused = 1;
        said = huxFormatText("%s: give it MODULE:FUNCTION", line.problem);
    } else {
        HuxCapture capture;
        startCapture(&capture);
        PyStatus status = preinitialize(&line);
        if (!PyStatus_Exception(status)) {
            PyConfig_Clear(&config);
            status = configure(&config, &line, argCount, args, executable);
        }
        char *output = endCapture(&capture);
        int ran = line.entryPoint != NULL || config.run_module != NULL ||
                  config.run_filename != NULL;
        if (PyStatus_Exception(status)) {
            said = describeEnd(status, output, refused);
        } else if (ran) {
            int addSite = config.site_import;
            config.site_import = 0;
            config.install_signal_handlers = 0;
            status = Py_InitializeFromConfig(&config);
            said = PyStatus_Exception(status) ? describeEnd(status, NULL, refused)
                                              : runModuleCheck(&config, line.entryPoint, addSite,
                                                               refused);
        }
        free(output);
    }
    PyConfig_Clear(&config);
    releaseCommandLine(&line);
    return said;
}

/* Says, without running the application, whether HUX_Launch would start it
 * with the current environment and the launch data's argument vector
 * argCount and args (none when argCount is below 1 or args is null): the
 * interpreter it would name, and what readAsTheLaunch finds. Returns 0 and
 * a description of what would run, or 1 and the problem with what to do,
 * as one line in `message`, zero-terminated and truncated to `size` bytes.
 * With an argument vector, it starts the interpreter in this process
 * (without running any of the application's code) and leaves it there. */
int32_t HUX_Check(char *message, int32_t size, int32_t argCount, char **args) {
    HuxInterpreter chosen;
    int usable = huxChooseInterpreter(&chosen);
    int refused = 0;
    char *found = usable && argCount >= 1 && args != NULL
                      ? readAsTheLaunch(argCount, args, chosen.executable, &refused)
                      : NULL;
    if (message != NULL && size > 0) {
        size_t room = (size_t)size;
        const char *more = found != NULL ? found : refused ? strerror(ENOMEM) : "";
        const char *separator = more[0] != '\0' ? "; " : "";
        if (!usable) {
            (void)snprintf(message, room, "python: %s", problemOf(&chosen));
        } else if (refused) {
            (void)snprintf(message, room, "python: %s", more);
        } else if (chosen.venv != NULL) {
            (void)snprintf(message, room, "python: venv %s, %s%s%s", chosen.venv,
                           chosen.executable, separator, more);
        } else {
            (void)snprintf(message, room, "python: %s (CPython %lu.%lu.%lu)%s%s",
                           chosen.executable, (Py_Version >> 24) & 0xffUL,
                           (Py_Version >> 16) & 0xffUL, (Py_Version >> 8) & 0xffUL, separator,
                           more);
        }
    }
    free(found);
    huxReleaseInterpreter(&chosen);
    return usable && !refused ? 0 : 1;
}
