// Fuzz target for the parent's handling of a received frame. Input: 8 bytes
// of the block's address in the child (native byte order), then the block.
// The block is checked; a block the check accepts is rebased and every
// string in it is read, as the runtime start would read them.
#include "record_handoff.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

namespace {

const uint64_t recordBytes = sizeof(KivlLauncherData);

// Prints what went wrong and aborts, so that libFuzzer keeps the input.
[[noreturn]] void fail(const char *what, uint64_t value) {
    fprintf(stderr, "received_record_fuzzer: %s (%llu)\n", what, (unsigned long long)value);
    abort();
}

// The 8-byte word at `offset` of `bytes`.
uint64_t wordAt(const unsigned char *bytes, uint64_t offset) {
    uint64_t word;
    memcpy(&word, bytes + offset, sizeof word);
    return word;
}

// An independent statement of the rules the check enforces on a block of
// `size` bytes built at `base`, written as plainly as possible: marks the
// bytes of each non-empty array, then works out from the end which offsets
// start a zero-terminated string that meets no array byte before its zero.
// True when the block is sound.
bool referenceAccepts(const unsigned char *block, uint64_t size, uint64_t base) {
    if (size < recordBytes) {
        return false;
    }
    int32_t counts[2];
    memcpy(counts, block + 8, sizeof counts);
    if (counts[0] < 0 || counts[1] < 0) {
        return false;
    }
    const uint64_t arrayFields[3] = {16, 24, 32};
    const int32_t arrayCounts[3] = {counts[0], counts[1], counts[1]};
    std::vector<unsigned char> inArray(size, 0);
    for (int i = 0; i < 3; i++) {
        uint64_t offset = wordAt(block, arrayFields[i]) - base;
        uint64_t count = (uint64_t)arrayCounts[i];
        if (offset > size) {
            return false;
        }
        if (count == 0) {
            continue;
        }
        if (offset < recordBytes || offset % 8 != 0 || count > (size - offset) / 8) {
            return false;
        }
        for (uint64_t at = offset; at < offset + 8 * count; at++) {
            if (inArray[at]) {
                return false;
            }
            inArray[at] = 1;
        }
    }
    std::vector<unsigned char> startsSoundString(size + 1, 0);
    for (uint64_t at = size; at-- > 0;) {
        startsSoundString[at] = !inArray[at] && (block[at] == 0 || startsSoundString[at + 1]);
    }
    auto sound = [&](uint64_t address) {
        uint64_t offset = address - base;
        return offset >= recordBytes && offset < size && startsSoundString[offset];
    };
    if (!sound(wordAt(block, 0))) {
        return false;
    }
    for (int i = 0; i < 3; i++) {
        uint64_t offset = wordAt(block, arrayFields[i]) - base;
        for (uint64_t entry = 0; entry < (uint64_t)arrayCounts[i]; entry++) {
            if (!sound(wordAt(block, offset + 8 * entry))) {
                return false;
            }
        }
    }
    return true;
}

// The rebased block at `block` (`size` bytes) as received.
struct Received {
    const unsigned char *block;
    uint64_t size;
    const unsigned char *original;
    uint64_t originalBase;
    const KivlLauncherData *record;
};

// Whether the `count` pointers at `array` meet the byte range [begin, end).
bool arrayMeets(const Received &in, char **array, int32_t count, uint64_t begin, uint64_t end) {
    uint64_t arrayBegin = (uintptr_t)array - (uintptr_t)in.block;
    uint64_t arrayEnd = arrayBegin + 8 * (uint64_t)count;
    return count > 0 && arrayBegin < end && begin < arrayEnd;
}

// Aborts unless the non-empty rebased array `array` of `count` entries lies
// inside the block past the record, aligned, at the offset its pointer had
// in the child, given in the record field at `field` of the original bytes.
void checkArray(const Received &in, char **array, int32_t count, uint64_t field) {
    uint64_t offset = (uintptr_t)array - (uintptr_t)in.block;
    if (offset != wordAt(in.original, field) - in.originalBase) {
        fail("array pointer not moved by the block's displacement", field);
    }
    if (count == 0) {
        return;
    }
    if (offset < recordBytes || offset % 8 != 0 || offset > in.size ||
        8 * (uint64_t)count > in.size - offset) {
        fail("accepted array outside the block", offset);
    }
}

// Reads the string `text` with strlen and aborts unless it lies inside the
// block past the record, outside every array, at the offset its pointer had
// in the child (`childAddress`), with the bytes it had there.
void checkString(const Received &in, const char *text, uint64_t childAddress) {
    uint64_t offset = (uintptr_t)text - (uintptr_t)in.block;
    if (offset != childAddress - in.originalBase) {
        fail("string pointer not moved by the block's displacement", offset);
    }
    if (offset < recordBytes || offset >= in.size) {
        fail("accepted string starts outside the block", offset);
    }
    uint64_t length = strlen(text);
    if (length >= in.size - offset) {
        fail("accepted string ends outside the block", offset);
    }
    const KivlLauncherData *record = in.record;
    if (arrayMeets(in, record->args, record->argCount, offset, offset + length + 1) ||
        arrayMeets(in, record->envNames, record->envCount, offset, offset + length + 1) ||
        arrayMeets(in, record->envValues, record->envCount, offset, offset + length + 1)) {
        fail("accepted string overlaps a pointer array", offset);
    }
    if (memcmp(text, in.original + offset, length + 1) != 0) {
        fail("string bytes changed by the rebase", offset);
    }
}

}  // namespace

// Turns the launcher's debug log off: it would only slow the runs down.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    unsetenv("SORVANTA_DEBUG");
    return 0;
}

// One input: check the block, compare the verdict with the reference, and
// for an accepted block rebase it and read everything it points to.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 8) {
        return 0;
    }
    uint64_t base = wordAt(data, 0);
    const unsigned char *original = data + 8;
    uint64_t blockSize = size - 8;
    unsigned char *block = (unsigned char *)malloc(blockSize);
    if (block == nullptr) {
        return 0;
    }
    memcpy(block, original, blockSize);
    const char *fault = checkReceivedRecord(block, blockSize, base);
    if ((fault == nullptr) != referenceAccepts(original, blockSize, base)) {
        fprintf(stderr, "check says: %s\n", fault != nullptr ? fault : "sound");
        fail("check and reference disagree on the block of this size", blockSize);
    }
    if (memcmp(block, original, blockSize) != 0) {
        fail("the check changed the block", blockSize);
    }
    if (fault == nullptr) {
        KivlLauncherData *record = (KivlLauncherData *)block;
        rebaseRecord(record, (intptr_t)((uintptr_t)block - base));
        Received in = {block, blockSize, original, base, record};
        checkArray(in, record->args, record->argCount, 16);
        checkArray(in, record->envNames, record->envCount, 24);
        checkArray(in, record->envValues, record->envCount, 32);
        checkString(in, record->runtimeLibPath, wordAt(original, 0));
        for (int32_t i = 0; i < record->argCount; i++) {
            checkString(in, record->args[i],
                        wordAt(original, wordAt(original, 16) - base + 8 * (uint64_t)i));
        }
        for (int32_t i = 0; i < record->envCount; i++) {
            checkString(in, record->envNames[i],
                        wordAt(original, wordAt(original, 24) - base + 8 * (uint64_t)i));
            checkString(in, record->envValues[i],
                        wordAt(original, wordAt(original, 32) - base + 8 * (uint64_t)i));
        }
    }
    free(block);
    return 0;
}
