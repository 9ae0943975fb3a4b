/* The agent jar for a Launcher-Agent-Class: a zip file of two stored
 * entries, the manifest and the agent class compiled into this library,
 * written straight into a memory file. */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "jvm_agent.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include "launcher_agent_class.h"

enum { MAX_ENTRIES = 2 };

/* A zip file being written to a file descriptor. */
typedef struct ZipBuffer {
    int fd;
    size_t length;  /* the bytes written so far */
    bool failed;
    uint32_t offsets[MAX_ENTRIES];
    uint32_t crcs[MAX_ENTRIES];
    uint32_t sizes[MAX_ENTRIES];
    const char *names[MAX_ENTRIES];
    int entries;
} ZipBuffer;

/* Writes `length` bytes; marks the zip failed when writing fails. */
static void put(ZipBuffer *zip, const void *data, size_t length) {
    const uint8_t *bytes = (const uint8_t *)data;
    while (!zip->failed && length > 0) {
        ssize_t done = write(zip->fd, bytes, length);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        zip->failed = done <= 0;
        if (done > 0) {
            bytes += done;
            length -= (size_t)done;
            zip->length += (size_t)done;
        }
    }
}

/* Appends a little-endian 16-bit or 32-bit number. */
static void put16(ZipBuffer *zip, uint32_t value) {
    uint8_t bytes[2] = {(uint8_t)value, (uint8_t)(value >> 8)};
    put(zip, bytes, sizeof bytes);
}
static void put32(ZipBuffer *zip, uint32_t value) {
    put16(zip, value & 0xffff);
    put16(zip, value >> 16);
}

/* The fields a local and a central header share, from "version needed"
 * on: version, flags, method (stored), time, date (1 January 1980), CRC,
 * sizes and the name's length, with no extra field. */
static void putCommon(ZipBuffer *zip, int entry) {
    put16(zip, 10);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, 0x21);
    put32(zip, zip->crcs[entry]);
    put32(zip, zip->sizes[entry]);
    put32(zip, zip->sizes[entry]);
    put16(zip, (uint32_t)strlen(zip->names[entry]));
    put16(zip, 0);
}

/* Appends a stored entry named `name` holding `length` bytes of `data`. */
static void putEntry(ZipBuffer *zip, const char *name, const uint8_t *data, size_t length) {
    int entry = zip->entries++;
    zip->names[entry] = name;
    zip->offsets[entry] = (uint32_t)zip->length;
    zip->crcs[entry] = jvmCrc32(0, data, length);
    zip->sizes[entry] = (uint32_t)length;
    put32(zip, 0x04034b50U);
    putCommon(zip, entry);
    put(zip, name, strlen(name));
    put(zip, data, length);
}

/* Appends the central directory and its end record. */
static void putDirectory(ZipBuffer *zip) {
    uint32_t start = (uint32_t)zip->length;
    for (int entry = 0; entry < zip->entries; entry++) {
        put32(zip, 0x02014b50U);
        put16(zip, 20);
        putCommon(zip, entry);
        put16(zip, 0);
        put16(zip, 0);
        put16(zip, 0);
        put32(zip, 0);
        put32(zip, zip->offsets[entry]);
        put(zip, zip->names[entry], strlen(zip->names[entry]));
    }
    uint32_t size = (uint32_t)zip->length - start;
    put32(zip, 0x06054b50U);
    put32(zip, 0);
    put16(zip, (uint32_t)zip->entries);
    put16(zip, (uint32_t)zip->entries);
    put32(zip, size);
    put32(zip, start);
    put16(zip, 0);
}

bool jvmWriteAgentJar(const JarManifest *manifest, char *option, size_t size) {
    char *text = NULL;
    int length = asprintf(&text,
                          "Manifest-Version: 1.0\r\nPremain-Class: " JVM_AGENT_CLASS "\r\n"
                          "Can-Redefine-Classes: %s\r\nCan-Retransform-Classes: %s\r\n"
                          "Can-Set-Native-Method-Prefix: %s\r\n\r\n",
                          manifest->canRedefineClasses ? "true" : "false",
                          manifest->canRetransformClasses ? "true" : "false",
                          manifest->canSetNativeMethodPrefix ? "true" : "false");
    ZipBuffer zip = {.fd = length < 0 ? -1 : memfd_create("applauncher-agent.jar", MFD_CLOEXEC)};
    zip.failed = zip.fd < 0;
    int failure = zip.failed ? (length < 0 ? ENOMEM : errno) : 0;
    if (!zip.failed) {
        putEntry(&zip, "META-INF/MANIFEST.MF", (const uint8_t *)text, (size_t)length);
        putEntry(&zip, "applauncher/jvm/LauncherAgent.class", launcherAgentClass,
                 sizeof launcherAgentClass);
        putDirectory(&zip);
        failure = zip.failed ? errno : 0;
    }
    free(text);
    if (zip.failed) {
        (void)snprintf(option, size, "cannot write its agent jar: %s", strerror(failure));
        if (zip.fd >= 0) {
            close(zip.fd);
        }
        return false;
    }
    (void)snprintf(option, size, "-javaagent:/proc/self/fd/%d", zip.fd);
    return true;
}
