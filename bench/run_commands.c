/* The launcher's external commands alone, run the way it runs them: each
 * argument is one command text, started through the shell with popen,
 * its output read to the end and discarded, its status taken by pclose.
 * Without arguments it does nothing: the cost of starting a program.
 * Usage: startup_commands [COMMAND...] */
#include <stdio.h>

int main(int argc, char **argv) {
    static char sink[65536];
    for (int i = 1; i < argc; i++) {
        FILE *stream = popen(argv[i], "r");
        if (stream == NULL) {
            perror("startup_commands: popen");
            return 2;
        }
        while (fread(sink, 1, sizeof sink, stream) > 0) {
        }
        (void)pclose(stream);
    }
    return 0;
}
