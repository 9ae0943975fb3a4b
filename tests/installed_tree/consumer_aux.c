/* An auxiliary library built outside the project against the installed
 * interface header alone. Its record names the runtime library given in
 * CONSUMER_RUNTIME and carries one argument, CONSUMER_BUILT_WITH, so a test
 * can tell which build of it ran. */
#include <stdlib.h>
#include <string.h>

#include <kivlauncher_api.h>

_Static_assert(sizeof(KivlLauncherData) == 40, "record layout");

typedef struct Texts {
    const char *runtime;
    const char *argument;
} Texts;

static void release(KivLauncherHandle handle) {
    free(handle);
}

static int32_t getDataSize(KivLauncherHandle handle) {
    Texts *texts = (Texts *)handle;
    return (int32_t)(sizeof(KivlLauncherData) + sizeof(char *) + strlen(texts->runtime) + 1 +
                     strlen(texts->argument) + 1);
}

static KivlLauncherData *fillData(KivLauncherHandle handle, void *buffer, int32_t size) {
    Texts *texts = (Texts *)handle;
    if (size < getDataSize(handle)) {
        return NULL;
    }
    KivlLauncherData *record = (KivlLauncherData *)buffer;
    record->argCount = 1;
    record->envCount = 0;
    record->args = (char **)(record + 1);
    record->envNames = record->args + 1;
    record->envValues = record->args + 1;
    record->runtimeLibPath = (char *)(record->args + 1);
    strcpy(record->runtimeLibPath, texts->runtime);
    record->args[0] = record->runtimeLibPath + strlen(texts->runtime) + 1;
    strcpy(record->args[0], texts->argument);
    return record;
}

static const KivlLauncherAPI api = {release, getDataSize, fillData};

const KivlLauncherAPI *kivLauncherGetAPI(void) {
    return &api;
}

KivLauncherHandle kivLauncherCreate(int32_t argc, char **argv) {
    (void)argc, (void)argv;
    Texts *texts = (Texts *)malloc(sizeof *texts);
    if (texts == NULL || getenv("CONSUMER_RUNTIME") == NULL) {
        free(texts);
        return NULL;
    }
    texts->runtime = getenv("CONSUMER_RUNTIME");
    texts->argument = CONSUMER_BUILT_WITH;
    return texts;
}
