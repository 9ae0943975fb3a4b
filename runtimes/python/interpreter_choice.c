#define _GNU_SOURCE
#include "interpreter_choice.h"

#include "secure_environment.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef HUX_PYTHON_INTERPRETER
#error "HUX_PYTHON_INTERPRETER must name the interpreter of the linked CPython"
#endif

char *huxFormatText(const char *format, ...) {
    va_list args;
    va_start(args, format);
    char *text = NULL;
    if (vasprintf(&text, format, args) < 0) {
        text = NULL;
    }
    va_end(args);
    return text;
}

/* `path` made absolute against the working directory (symlinks kept, as
 * the interpreter finds pyvenv.cfg beside the link, not its target) and
 * without trailing slashes; heap memory, or null. */
static char *absolutePath(const char *path) {
    size_t length = strlen(path);
    while (length > 1 && path[length - 1] == '/') {
        length--;
    }
    if (path[0] == '/') {
        return huxFormatText("%.*s", (int)length, path);
    }
    char *workingDirectory = getcwd(NULL, 0);
    if (workingDirectory == NULL) {
        return NULL;
    }
    char *absolute = huxFormatText("%s/%.*s", workingDirectory, (int)length, path);
    free(workingDirectory);
    return absolute;
}

/* Whether `path` is a regular file (after symlinks). */
static int isRegularFile(const char *path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

/* Whether `path` is a regular file this process may execute. */
static int isExecutableFile(const char *path) {
    return isRegularFile(path) && access(path, X_OK) == 0;
}

/* The last component of `path`. */
static const char *baseName(const char *path) {
    const char *slash = strrchr(path, '/');
    return slash != NULL ? slash + 1 : path;
}

/* Takes the virtual environment named `venv`: sets chosen->venv and
 * chosen->executable, or chosen->problem. Returns 1 when it is usable. */
static int chooseVirtualEnvironment(HuxInterpreter *chosen, const char *venv) {
    chosen->venv = absolutePath(venv);
    if (chosen->venv == NULL) {
        return 0;
    }
    char *config = huxFormatText("%s/pyvenv.cfg", chosen->venv);
    chosen->executable = huxFormatText("%s/bin/python3", chosen->venv);
    if (config == NULL || chosen->executable == NULL) {
        free(config);
        return 0;
    }
    int configured = isRegularFile(config);
    free(config);
    if (!configured) {
        chosen->problem = huxFormatText("%s is not a virtual environment (no pyvenv.cfg)", venv);
    } else if (!isExecutableFile(chosen->executable)) {
        chosen->problem =
            huxFormatText("%s not found: recreate the virtual environment with %s -m venv",
                          chosen->executable, HUX_PYTHON_INTERPRETER);
    }
    return chosen->problem == NULL;
}

int huxChooseInterpreter(HuxInterpreter *chosen) {
    chosen->executable = NULL;
    chosen->venv = NULL;
    chosen->problem = NULL;
    char *venv = huxTrustedDirectoryVariable("HUX_PYTHON_VENV");
    if (venv != NULL && venv[0] != '\0') {
        int usable = chooseVirtualEnvironment(chosen, venv);
        free(venv);
        return usable;
    }
    free(venv);
    if (!isExecutableFile(HUX_PYTHON_INTERPRETER)) {
        chosen->problem = huxFormatText("%s not found: install %s", HUX_PYTHON_INTERPRETER,
                                        baseName(HUX_PYTHON_INTERPRETER));
        return 0;
    }
    chosen->executable = huxFormatText("%s", HUX_PYTHON_INTERPRETER);
    return chosen->executable != NULL;
}

void huxReleaseInterpreter(HuxInterpreter *chosen) {
    free(chosen->executable);
    free(chosen->venv);
    free(chosen->problem);
    chosen->executable = NULL;
    chosen->venv = NULL;
    chosen->problem = NULL;
}
