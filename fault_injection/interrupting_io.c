/* Preloaded into the launcher (LD_PRELOAD) to interrupt its reads and
 * writes: a SIGALRM handler installed without SA_RESTART and an interval
 * timer firing every INTERRUPT_EVERY_US microseconds (default 200), re-armed
 * in a forked child. Its read and write count the calls that came back with
 * EINTR and those cut short, and each process writes
 * "eintr=N short=S signals=M" to
 * $INTERRUPT_REPORT_DIR/<parent|child> at exit. LD_PRELOAD is removed from
 * the environment so that the commands the launcher runs are not affected. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

static pid_t startPid;
static volatile sig_atomic_t signalsSeen;
static long interrupted;
static long shortened;

static void onAlarm(int sig) {
    (void)sig;
    signalsSeen++;
}

static void armTimer(void) {
    const char *every = getenv("INTERRUPT_EVERY_US");
    long micros = every != NULL ? atol(every) : 200;
    struct itimerval timer = {{0, micros}, {0, micros}};
    setitimer(ITIMER_REAL, &timer, NULL);
}

__attribute__((constructor)) static void start(void) {
    startPid = getpid();
    unsetenv("LD_PRELOAD");
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = onAlarm;
    sigaction(SIGALRM, &action, NULL);
    pthread_atfork(NULL, NULL, armTimer);
    armTimer();
}

static ssize_t counted(ssize_t result, size_t length) {
    if (result < 0 && errno == EINTR) {
        interrupted++;
    } else if (result >= 0 && (size_t)result < length) {
        shortened++;
    }
    return result;
}

ssize_t read(int fd, void *buffer, size_t length) {
    return counted(syscall(SYS_read, fd, buffer, length), length);
}

ssize_t write(int fd, const void *buffer, size_t length) {
    return counted(syscall(SYS_write, fd, buffer, length), length);
}

__attribute__((destructor)) static void report(void) {
    struct itimerval off;
    memset(&off, 0, sizeof off);
    setitimer(ITIMER_REAL, &off, NULL);
    const char *dir = getenv("INTERRUPT_REPORT_DIR");
    if (dir == NULL) {
        return;
    }
    char path[4096];
    char line[128];
    snprintf(path, sizeof path, "%s/%s", dir, getpid() == startPid ? "parent" : "child");
    int length = snprintf(line, sizeof line, "eintr=%ld short=%ld signals=%d\n",
                          interrupted, shortened, (int)signalsSeen);
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ssize_t written = syscall(SYS_write, fd, line, (size_t)length);
        (void)written;
        close(fd);
    }
}
