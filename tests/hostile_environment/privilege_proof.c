/* The payload a hostile caller wants a privileged launcher to run: loaded
 * as an auxiliary library, as libjvm.so or as a JVM agent. Its constructor
 * proves with what privilege it runs: it tries to bind 127.0.0.1 port 81,
 * which needs CAP_NET_BIND_SERVICE, and appends
 * "ruid=R euid=E bind=allowed|denied|errno N" to <its own path>.proof.
 * Agent_OnLoad lets a VM that loads it as an agent go on. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <dlfcn.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

/* Whether binding port 81 on the loopback address is allowed ("allowed":
 * bound, or refused only because another socket holds it), "denied", or
 * another errno. */
static const char *bindVerdict(char *other, size_t size) {
    int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        snprintf(other, size, "errno %d", errno);
        return other;
    }
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(81);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int bound = bind(sock, (struct sockaddr *)&address, sizeof address);
    int failure = errno;
    close(sock);
    if (bound == 0 || failure == EADDRINUSE) {
        return "allowed";
    }
    if (failure == EACCES || failure == EPERM) {
        return "denied";
    }
    snprintf(other, size, "errno %d", failure);
    return other;
}

/* An object of this library, for dladdr to find the library's path by. */
static const char anchor = 0;

__attribute__((constructor)) static void proveThePrivilege(void) {
    Dl_info self;
    if (dladdr(&anchor, &self) == 0 || self.dli_fname == NULL) {
        return;
    }
    char path[4200];
    char other[32];
    snprintf(path, sizeof path, "%s.proof", self.dli_fname);
    const char *verdict = bindVerdict(other, sizeof other);
    FILE *out = fopen(path, "ae");
    if (out != NULL) {
        fprintf(out, "ruid=%d euid=%d bind=%s\n", (int)getuid(), (int)geteuid(), verdict);
        fclose(out);
    }
}

/* A JVM's entry for an agent: nothing to do, the VM goes on. */
__attribute__((visibility("default"))) int Agent_OnLoad(void *vm, char *options, void *reserved) {
    (void)vm;
    (void)options;
    (void)reserved;
    return 0;
}
