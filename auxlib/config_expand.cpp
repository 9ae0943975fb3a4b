#include "config_expand.h"

#include <stdlib.h>
#include <string.h>

enum { maxDefaultNesting = 32 };

struct Expander {
    const Expansion *how;
    const char *text;
    size_t length;
    size_t at;
    TextBuffer *out;
    char *reason;
};

// Whether c may start a variable name: a letter or '_'.
static bool isNameStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// Whether c may follow in a variable name: a letter, a digit or '_'.
static bool isNameChar(char c) {
    return isNameStart(c) || (c >= '0' && c <= '9');
}

// Appends bytes to the result unless it would pass the limit, which is
// refused with the limit's own reason.
static bool emit(Expander *e, const char *bytes, size_t length) {
    if (e->out->length > e->how->limit || length > e->how->limit - e->out->length) {
        return refuseWith(e->reason, "%s", e->how->limitReason);
    }
    if (!appendText(e->out, bytes, length)) {
        return refuseWith(e->reason, "out of memory");
    }
    return true;
}

// Appends substituted text, quoting the glob characters when the result
// is a pattern, so that a substituted value is never interpreted.
static bool emitSubstituted(Expander *e, const char *value) {
    size_t length = strlen(value);
    if (!e->how->forPattern) {
        return emit(e, value, length);
    }
    size_t start = 0;
    for (size_t i = 0; i < length; i++) {
        if (strchr("*?[\\", value[i]) != nullptr) {
            if (!emit(e, value + start, i - start) || !emit(e, "\\", 1)) {
                return false;
            }
            start = i;
        }
    }
    return emit(e, value + start, length - start);
}

// Whether name[0..length) is `word`.
static bool nameIs(const char *name, size_t length, const char *word) {
    return strlen(word) == length && memcmp(name, word, length) == 0;
}

// The value of name[0..length): $APPDIR and $CONFIGDIR, else the
// environment variable ("" when unset). Null when memory runs out.
static const char *valueOf(Expander *e, const char *name, size_t length) {
    if (nameIs(name, length, "APPDIR")) {
        return e->how->appDir;
    }
    if (nameIs(name, length, "CONFIGDIR")) {
        return e->how->configDir;
    }
    char local[128];
    char *copy = length < sizeof local ? local : (char *)malloc(length + 1);
    if (copy == nullptr) {
        return nullptr;
    }
    memcpy(copy, name, length);
    copy[length] = '\0';
    const char *value = e->how->source->variable(e->how->source->context, copy);
    if (copy != local) {
        free(copy);
    }
    return value != nullptr ? value : "";
}

static bool expandUntil(Expander *e, bool inBraces, bool emitting, int nesting);

// Expands "${NAME}" or "${NAME:-WORD}"; e->at is just past "${".
// NOLINTNEXTLINE(misc-no-recursion): defaults nest at most maxDefaultNesting deep
static bool expandBraces(Expander *e, bool emitting, int nesting) {
    size_t name = e->at;
    if (name == e->length) {
        return refuseWith(e->reason, "unterminated \"${\"");
    }
    if (!isNameStart(e->text[name])) {
        return refuseWith(e->reason, "\"${\" must be followed by a variable name");
    }
    size_t end = name + 1;
    while (end < e->length && isNameChar(e->text[end])) {
        end++;
    }
    const char *value = valueOf(e, e->text + name, end - name);
    if (value == nullptr) {
        return refuseWith(e->reason, "out of memory");
    }
    e->at = end;
    if (end < e->length && e->text[end] == '}') {
        e->at++;
        if (!emitting) {
            return true;
        }
        return emitSubstituted(e, value);
    }
    if (end == e->length) {
        return refuseWith(e->reason, "unterminated \"${\"");
    }
    if (e->length - end < 2 || memcmp(e->text + end, ":-", 2) != 0) {
        *e->how->plainReason = "a \"${\" form is not ${NAME} or ${NAME:-WORD}";
        return refuseWith(e->reason, "\"${%.*s%c\" is not ${NAME} or ${NAME:-WORD}",
                          (int)(end - name > 64 ? 64 : end - name), e->text + name,
                          e->text[end]);
    }
    if (nesting == maxDefaultNesting) {
        return refuseWith(e->reason, "defaults nested deeper than %d", maxDefaultNesting);
    }
    e->at = end + 2;
    bool useDefault = value[0] == '\0';
    if (!expandUntil(e, true, emitting && useDefault, nesting + 1)) {
        return false;
    }
    e->at++;
    if (!emitting || useDefault) {
        return true;
    }
    return emitSubstituted(e, value);
}

// Expands one "$" form; e->at is at the "$".
// NOLINTNEXTLINE(misc-no-recursion): defaults nest at most maxDefaultNesting deep
static bool expandDollar(Expander *e, bool emitting, int nesting) {
    size_t next = e->at + 1;
    char c = next < e->length ? e->text[next] : '\0';
    if (next < e->length && c == '$') {
        e->at = next + 1;
        if (!emitting) {
            return true;
        }
        return emit(e, "$", 1);
    }
    if (next < e->length && c == '{') {
        e->at = next + 1;
        return expandBraces(e, emitting, nesting);
    }
    if (next == e->length || !isNameStart(c)) {
        return refuseWith(e->reason, "\"$\" must start $NAME, ${NAME} or $$");
    }
    size_t end = next + 1;
    while (end < e->length && isNameChar(e->text[end])) {
        end++;
    }
    const char *word = e->text + next;
    size_t length = end - next;
    if (!nameIs(word, length, "APPDIR") && !nameIs(word, length, "CONFIGDIR")) {
        *e->how->plainReason = "unknown $NAME (a variable is written ${NAME})";
        return refuseWith(e->reason, "unknown \"$%.*s\" (a variable is written ${%.*s})",
                          (int)(length > 64 ? 64 : length), word,
                          (int)(length > 64 ? 64 : length), word);
    }
    e->at = end;
    if (!emitting) {
        return true;
    }
    return emitSubstituted(e, valueOf(e, word, length));
}

// Expands from e->at to the end of the text or, inBraces, to the "}" that
// closes the current default (e->at is left on it). Output is produced
// only while `emitting`; the rest is checked all the same.
// NOLINTNEXTLINE(misc-no-recursion): defaults nest at most maxDefaultNesting deep
static bool expandUntil(Expander *e, bool inBraces, bool emitting, int nesting) {
    while (e->at < e->length) {
        size_t plain = e->at;
        while (plain < e->length && e->text[plain] != '$' && !(inBraces && e->text[plain] == '}')) {
            plain++;
        }
        if (emitting && !emit(e, e->text + e->at, plain - e->at)) {
            return false;
        }
        e->at = plain;
        if (plain == e->length || e->text[plain] == '}') {
            break;
        }
        if (!expandDollar(e, emitting, nesting)) {
            return false;
        }
    }
    if (inBraces && e->at == e->length) {
        return refuseWith(e->reason, "unterminated \"${\"");
    }
    return true;
}

bool expandValue(const Expansion *how, const char *value, size_t length, TextBuffer *out,
                 char *reason) {
    Expander e = {how, value, length, 0, out, reason};
    if (!expandUntil(&e, false, true, 0)) {
        return false;
    }
    if (out->bytes == nullptr && !appendText(out, "", 0)) {
        return refuseWith(reason, "out of memory");
    }
    return true;
}
