// Growing text buffers and refusal reasons, shared by the configuration code.
#ifndef CONFIG_TEXT_H
#define CONFIG_TEXT_H

#include <stddef.h>

// Bytes a refusal reason may hold, its zero included.
enum { configReasonSize = 512 };

// Heap bytes that grow as they are appended to, always followed by a zero
// once anything was appended. All zero is an empty buffer.
struct TextBuffer {
    char *bytes;
    size_t length;
    size_t capacity;
};

// Appends bytes[0..length) and keeps a zero after them. False, with the
// buffer unchanged, when memory runs out.
bool appendText(TextBuffer *buffer, const char *bytes, size_t length);

// Empties the buffer but keeps its memory for reuse.
void clearText(TextBuffer *buffer);

// Frees the buffer's memory and leaves it empty.
void freeText(TextBuffer *buffer);

// The buffer's text as a zero-terminated string ("" while empty).
const char *textOf(const TextBuffer *buffer);

// A heap copy of bytes[0..length) with a zero after it; null when memory
// runs out.
char *copyBytes(const char *bytes, size_t length);

// Formats a reason into reason[0..configReasonSize) and returns false, so
// that a refusing caller can return its result.
bool refuseWith(char *reason, const char *format, ...) __attribute__((format(printf, 2, 3)));

#endif
