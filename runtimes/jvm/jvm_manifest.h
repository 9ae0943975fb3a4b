/* Reading a jar's main manifest attributes before any VM runs, for the
 * options they stand for under -jar. */
#ifndef JVM_MANIFEST_H
#define JVM_MANIFEST_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What the main section of a jar's META-INF/MANIFEST.MF says; each text a
 * heap string, or null when the attribute is absent. */
typedef struct JarManifest {
    char *mainClass;
    char *addOpens;            /* space-separated module/package pairs */
    char *addExports;
    char *enableNativeAccess;  /* "ALL-UNNAMED" is the only value it may have */
    char *launcherAgentClass;
    char *classPath;           /* space-separated URLs relative to the jar */
    bool canRedefineClasses;
    bool canRetransformClasses;
    bool canSetNativeMethodPrefix;
} JarManifest;

/* How reading a jar went. */
typedef enum JarStatus {
    JAR_READ,        /* *manifest filled (all null when the jar has no manifest) */
    JAR_UNREADABLE,  /* the file cannot be opened or read */
    JAR_UNKNOWN      /* not a zip file this reader takes (damaged, zip64, another method) */
} JarStatus;

/* Reads the main section of the manifest of the jar at `path` into
 * *manifest (release it with jvmReleaseManifest; emptied on every other
 * status). Attribute names are matched ignoring case, continuation lines
 * joined, values kept as written. */
JarStatus jvmReadManifest(const char *path, JarManifest *manifest);

/* Frees the texts of *manifest and empties it. */
void jvmReleaseManifest(JarManifest *manifest);

/* Inflates the raw deflate stream `in` (`inLength` bytes) into `out`,
 * which must come out exactly `outLength` bytes long. Returns whether it
 * did: false for a damaged stream or one of another length. */
bool jvmInflate(const uint8_t *in, size_t inLength, uint8_t *out, size_t outLength);

/* The CRC-32 (as zip files use it) of `length` bytes at `data`, continued
 * from `crc` (0 to start). */
uint32_t jvmCrc32(uint32_t crc, const uint8_t *data, size_t length);

#ifdef __cplusplus
}
#endif

#endif
