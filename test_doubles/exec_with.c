/* Starts a program under the conditions a test asks for:
 *   exec_with [--ignore SIGNAL]... [--close FD]... [--cd DIR]... PROGRAM [ARG]...
 * ignores each signal (a disposition that survives exec), closes each
 * descriptor, enters each relative DIR one component at a time (so the
 * whole path may be longer than any system call takes), then executes
 * PROGRAM with its arguments (argv[0] = PROGRAM). Exits 127 when it cannot. */
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char **argv) {
    int i = 1;
    for (; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--ignore") == 0) {
            signal(atoi(argv[i + 1]), SIG_IGN);
        } else if (strcmp(argv[i], "--close") == 0) {
            close(atoi(argv[i + 1]));
        } else if (strcmp(argv[i], "--cd") == 0) {
            for (char *part = strtok(argv[i + 1], "/"); part != NULL; part = strtok(NULL, "/")) {
                if (chdir(part) != 0) {
                    return 127;
                }
            }
        } else {
            break;
        }
    }
    if (i >= argc) {
        return 127;
    }
    execv(argv[i], argv + i);
    return 127;
}
