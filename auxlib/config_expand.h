// Expansion of a configuration value: ${NAME}, ${NAME:-WORD}, $APPDIR,
// $CONFIGDIR (also in braces) and $$, once, never again on the result.
#ifndef CONFIG_EXPAND_H
#define CONFIG_EXPAND_H

#include <stddef.h>

#include "config_source.h"
#include "config_text.h"

// What the names in a value stand for and how the result is used.
struct Expansion {
    const ConfigSource *source;  // its variable() gives ${NAME}
    const char *appDir;
    const char *configDir;
    bool forPattern;          // the result is a glob pattern: quote substituted text
    size_t limit;             // the most bytes the result may hold
    const char *limitReason;  // the reason given when the result would pass it
    // Where a refusal that quotes the value (a name in it) leaves the same
    // reason without the quoted text, a constant string; left as it was
    // for every other refusal.
    const char **plainReason;
};

// Appends the expansion of value[0..length) to *out, stopping as soon as
// the result would pass how->limit. False with the reason when the value
// is malformed, its result would pass the limit (how->limitReason) or
// memory runs out.
bool expandValue(const Expansion *how, const char *value, size_t length, TextBuffer *out,
                 char *reason);

#endif
