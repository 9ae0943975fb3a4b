/* Class data sharing for every application: one archive of its classes
 * per application, JDK build and class path, in the user's cache,
 * recorded at the end of a first run and mapped by the later ones. */
#ifndef JVM_ARCHIVE_H
#define JVM_ARCHIVE_H

#include <stdbool.h>

#include "jvm_command.h"
#include "jvm_locate.h"
#include "jvm_manifest.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { JVM_ARCHIVE_OPTIONS = 3 };

/* The VM options one launch adds for its archive (none when it has none). */
typedef struct JvmArchive {
    char *options[JVM_ARCHIVE_OPTIONS];  /* heap strings */
    int optionCount;
} JvmArchive;

/* Chooses the archive of the launch that `command` describes on `library`
 * (`manifest`: the -jar file's, or null) for the application whose
 * program is this process's executable (`program`, the argument vector's
 * args[0], when /proc does not say): maps the archive recorded before, or
 * records one at
 * this run's end (written under a temporary name and renamed when whole,
 * by a handler this registers with atexit), with the VM's messages about
 * archives silenced; or none, in secure mode, with HUX_JAVA_CDS=off, when
 * the command or the VM's option variables give a sharing option of
 * their own, on a JDK before 17 or without its base archive, for a class
 * path that is not jar files alone, or when the cache cannot be written.
 * One trace line says which archive and how, or why none. Fills *archive
 * (release it with jvmReleaseArchive). */
void jvmPrepareArchive(const char *program, const JvmLibrary *library, const JvmCommand *command,
                       const JarManifest *manifest, JvmArchive *archive);

/* Frees the options of *archive and empties it. */
void jvmReleaseArchive(JvmArchive *archive);

#ifdef __cplusplus
}
#endif

#endif
