// The word splitting of args=: words at blanks and tabs, single and double
// quotes grouping and removed, nothing else of a shell.
#ifndef CONFIG_WORDS_H
#define CONFIG_WORDS_H

#include <stddef.h>

#include "config_text.h"

// Called with each word in turn (in a scratch buffer); false, with the
// reason written, stops the splitting.
typedef bool (*WordSink)(void *state, const TextBuffer *word, char *reason);

// Splits text[0..length) into words and hands each to `sink`. Inside
// double quotes a backslash quotes a following '"' or '\'; every other
// backslash is an ordinary character. False with the reason for an
// unterminated quote, a refusing sink or memory running out.
bool splitWords(const char *text, size_t length, TextBuffer *word, WordSink sink, void *state,
                char *reason);

#endif
