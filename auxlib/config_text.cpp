#include "config_text.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

bool appendText(TextBuffer *buffer, const char *bytes, size_t length) {
    size_t needed = buffer->length + length + 1;
    if (needed < length) {
        return false;
    }
    if (needed > buffer->capacity) {
        size_t capacity = buffer->capacity < 64 ? 64 : buffer->capacity;
        while (capacity < needed) {
            capacity = capacity * 2 > capacity ? capacity * 2 : needed;
        }
        char *grown = (char *)realloc(buffer->bytes, capacity);
        if (grown == nullptr) {
            return false;
        }
        buffer->bytes = grown;
        buffer->capacity = capacity;
    }
    if (length > 0) {
        memcpy(buffer->bytes + buffer->length, bytes, length);
    }
    buffer->length += length;
    buffer->bytes[buffer->length] = '\0';
    return true;
}

void clearText(TextBuffer *buffer) {
    buffer->length = 0;
    if (buffer->bytes != nullptr) {
        buffer->bytes[0] = '\0';
    }
}

void freeText(TextBuffer *buffer) {
    free(buffer->bytes);
    memset(buffer, 0, sizeof *buffer);
}

const char *textOf(const TextBuffer *buffer) {
    return buffer->bytes != nullptr ? buffer->bytes : "";
}

char *copyBytes(const char *bytes, size_t length) {
    char *copy = (char *)malloc(length + 1);
    if (copy != nullptr) {
        if (length > 0) {
            memcpy(copy, bytes, length);
        }
        copy[length] = '\0';
    }
    return copy;
}

bool refuseWith(char *reason, const char *format, ...) {
    va_list args;
    va_start(args, format);
    (void)vsnprintf(reason, configReasonSize, format, args);
    va_end(args);
    return false;
}
