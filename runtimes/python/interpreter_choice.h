/* Which interpreter the CPython runtime names as sys.executable, for the
 * current environment: the one the library was built with, or the one of
 * the virtual environment that HUX_PYTHON_VENV names. */
#ifndef HUX_INTERPRETER_CHOICE_H
#define HUX_INTERPRETER_CHOICE_H

/* The outcome of the choice; every text is heap memory or null. */
typedef struct {
    char *executable; /* the interpreter's absolute path */
    char *venv;       /* the virtual environment's absolute path, or null */
    char *problem;    /* why the runtime cannot start, and what to do; or null */
} HuxInterpreter;

/* Decides the interpreter from HUX_PYTHON_VENV and the built-in one, and
 * checks that it is there: a set (non-empty) HUX_PYTHON_VENV must hold
 * pyvenv.cfg and bin/python3, else the built-in interpreter must exist.
 * Returns 1 with executable (and venv) set, or 0 with problem set (null
 * only when memory ran out). Release the result in either case. */
int huxChooseInterpreter(HuxInterpreter *chosen);

/* The formatted text in fresh heap memory, or null when memory ran out
 * (for every source of the library). */
char *huxFormatText(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* Frees the texts of `chosen` and sets them to null. */
void huxReleaseInterpreter(HuxInterpreter *chosen);

#endif
