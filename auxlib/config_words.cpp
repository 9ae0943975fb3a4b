#include "config_words.h"

#include <string.h>

// Whether c separates words: a blank or a tab.
static bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Appends the inside of the double-quoted part that starts at text[*at]
// (the opening quote) and moves *at past its closing quote.
static bool appendDoubleQuoted(const char *text, size_t length, size_t *at, TextBuffer *word,
                               char *reason) {
    size_t i = *at + 1;
    size_t start = i;
    while (i < length && text[i] != '"') {
        if (text[i] == '\\' && i + 1 < length && (text[i + 1] == '"' || text[i + 1] == '\\')) {
            if (!appendText(word, text + start, i - start)) {
                return refuseWith(reason, "out of memory");
            }
            start = i + 1;
            i += 2;
        } else {
            i++;
        }
    }
    if (i == length) {
        return refuseWith(reason, "unterminated '\"' in args=");
    }
    *at = i + 1;
    if (!appendText(word, text + start, i - start)) {
        return refuseWith(reason, "out of memory");
    }
    return true;
}

// Appends the word that starts at text[*at] and moves *at past it.
static bool appendWord(const char *text, size_t length, size_t *at, TextBuffer *word,
                       char *reason) {
    size_t i = *at;
    while (i < length && !isBlank(text[i])) {
        if (text[i] == '"') {
            if (!appendDoubleQuoted(text, length, &i, word, reason)) {
                return false;
            }
        } else if (text[i] == '\'') {
            const char *close = (const char *)memchr(text + i + 1, '\'', length - i - 1);
            if (close == nullptr) {
                return refuseWith(reason, "unterminated \"'\" in args=");
            }
            size_t end = (size_t)(close - text);
            if (!appendText(word, text + i + 1, end - i - 1)) {
                return refuseWith(reason, "out of memory");
            }
            i = end + 1;
        } else {
            size_t start = i;
            while (i < length && !isBlank(text[i]) && text[i] != '"' && text[i] != '\'') {
                i++;
            }
            if (!appendText(word, text + start, i - start)) {
                return refuseWith(reason, "out of memory");
            }
        }
    }
    *at = i;
    return true;
}

bool splitWords(const char *text, size_t length, TextBuffer *word, WordSink sink, void *state,
                char *reason) {
    size_t at = 0;
    for (;;) {
        while (at < length && isBlank(text[at])) {
            at++;
        }
        if (at == length) {
            return true;
        }
        clearText(word);
        if (!appendText(word, "", 0)) {
            return refuseWith(reason, "out of memory");
        }
        if (!appendWord(text, length, &at, word, reason) || !sink(state, word, reason)) {
            return false;
        }
    }
}
