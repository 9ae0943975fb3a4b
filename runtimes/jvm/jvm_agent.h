/* The agent jar that stands in for a jar's Launcher-Agent-Class. */
#ifndef JVM_AGENT_H
#define JVM_AGENT_H

#include <stdbool.h>
#include <stddef.h>

#include "jvm_manifest.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The class, in the jar jvmWriteAgentJar writes, whose static
 * instrumentation() returns what its premain was given. */
#define JVM_AGENT_CLASS "applauncher.jvm.LauncherAgent"

/* Writes, into a memory file that stays open for the life of the process
 * (closed on exec), a jar whose Premain-Class is JVM_AGENT_CLASS and
 * whose Can-Redefine-Classes, Can-Retransform-Classes and
 * Can-Set-Native-Method-Prefix are those of `manifest`. Returns true with
 * the VM option "-javaagent:/proc/self/fd/N" in `option` (of `size`
 * bytes), or false with `option` holding the reason. */
bool jvmWriteAgentJar(const JarManifest *manifest, char *option, size_t size);

#ifdef __cplusplus
}
#endif

#endif
