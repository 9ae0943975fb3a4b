/* applauncher-pack as a target the project builds, as it is inside
 * applauncher's own build: runs the real one, PACK, with the same
 * arguments. */
#include <stdio.h>
#include <unistd.h>

int main(int argc, char **argv) {
    (void)argc;
    execv(PACK, argv);
    perror(PACK);
    return 127;
}
