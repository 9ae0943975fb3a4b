/* A jar's manifest read without a VM: the zip file's central directory,
 * the META-INF/MANIFEST.MF entry (stored or deflated) and the attributes
 * of its main section. */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "jvm_manifest.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

enum {
    MAX_BITS = 15,
    END_RECORD_SIZE = 22,
    CENTRAL_HEADER_SIZE = 46,
    LOCAL_HEADER_SIZE = 30,
    LARGEST_COMMENT = 0xffff,
    LARGEST_MANIFEST = 8 << 20,
    LARGEST_DIRECTORY = 64 << 20,
};

static const char manifestName[] = "META-INF/MANIFEST.MF";
static const JarManifest noManifest = {NULL, NULL, NULL, NULL, NULL, NULL, false, false, false};

/* The input of the inflater, read bit by bit from the lowest. */
typedef struct BitReader {
    const uint8_t *in;
    size_t length;
    size_t position;
    uint32_t buffer;
    int count;
} BitReader;

/* A canonical Huffman code: how many codes of each length, and the
 * symbols in code order. */
typedef struct Huffman {
    uint16_t counts[MAX_BITS + 1];
    uint16_t symbols[288];
} Huffman;

/* The next `need` bits (at most 16), or -1 past the input's end. */
static int readBits(BitReader *reader, int need) {
    while (reader->count < need) {
        if (reader->position >= reader->length) {
            return -1;
        }
        reader->buffer |= (uint32_t)reader->in[reader->position++] << reader->count;
        reader->count += 8;
    }
    int value = (int)(reader->buffer & ((1U << need) - 1));
    reader->buffer >>= need;
    reader->count -= need;
    return value;
}

/* Builds the code of `count` symbols with the bit lengths `lengths`.
 * Returns false for an over-subscribed code. */
static bool buildHuffman(Huffman *code, const uint8_t *lengths, int count) {
    uint16_t offsets[MAX_BITS + 2];
    for (int length = 0; length <= MAX_BITS; length++) {
        code->counts[length] = 0;
    }
    for (int symbol = 0; symbol < count; symbol++) {
        code->counts[lengths[symbol]]++;
    }
    int left = 1;
    for (int length = 1; length <= MAX_BITS; length++) {
        left = left * 2 - code->counts[length];
        if (left < 0) {
            return false;
        }
    }
    offsets[1] = 0;
    for (int length = 1; length < MAX_BITS; length++) {
        offsets[length + 1] = (uint16_t)(offsets[length] + code->counts[length]);
    }
    for (int symbol = 0; symbol < count; symbol++) {
        if (lengths[symbol] != 0) {
            code->symbols[offsets[lengths[symbol]]++] = (uint16_t)symbol;
        }
    }
    return true;
}

/* The next symbol of `code`, or -1 for input that no code matches. */
static int decodeSymbol(BitReader *reader, const Huffman *code) {
    int value = 0;
    int first = 0;
    int index = 0;
    for (int length = 1; length <= MAX_BITS; length++) {
        int bit = readBits(reader, 1);
        if (bit < 0) {
            return -1;
        }
        value |= bit;
        int count = code->counts[length];
        if (value - count < first) {
            return code->symbols[index + (value - first)];
        }
        index += count;
        first = (first + count) << 1;
        value <<= 1;
    }
    return -1;
}

/* Where the inflater writes. */
typedef struct Output {
    uint8_t *bytes;
    size_t length;
    size_t used;
} Output;

/* Decodes one block's literals and copies with the two codes until its
 * end code. Returns false for damaged input or output past its length. */
static bool inflateCodes(BitReader *reader, Output *out, const Huffman *literals,
                         const Huffman *distances) {
    static const uint16_t lengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,
                                            15, 17, 19, 23, 27, 31, 35, 43, 51,  59,
                                            67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const uint8_t lengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                            2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static const uint16_t distanceBase[30] = {
        1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    static const uint8_t distanceExtra[30] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,
                                              6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
    for (;;) {
        int symbol = decodeSymbol(reader, literals);
        if (symbol < 0 || symbol > 285) {
            return false;
        }
        if (symbol == 256) {
            return true;
        }
        if (symbol < 256) {
            if (out->used >= out->length) {
                return false;
            }
            out->bytes[out->used++] = (uint8_t)symbol;
            continue;
        }
        symbol -= 257;
        int extra = readBits(reader, lengthExtra[symbol]);
        int distanceSymbol = decodeSymbol(reader, distances);
        if (extra < 0 || distanceSymbol < 0 || distanceSymbol > 29) {
            return false;
        }
        int distanceBits = readBits(reader, distanceExtra[distanceSymbol]);
        if (distanceBits < 0) {
            return false;
        }
        size_t length = (size_t)lengthBase[symbol] + (size_t)extra;
        size_t distance = (size_t)distanceBase[distanceSymbol] + (size_t)distanceBits;
        if (distance > out->used || length > out->length - out->used) {
            return false;
        }
        for (size_t i = 0; i < length; i++, out->used++) {
            out->bytes[out->used] = out->bytes[out->used - distance];
        }
    }
}

/* Copies a stored block's bytes. */
static bool inflateStored(BitReader *reader, Output *out) {
    reader->buffer = 0;
    reader->count = 0;
    if (reader->length - reader->position < 4) {
        return false;
    }
    const uint8_t *header = reader->in + reader->position;
    size_t length = (size_t)header[0] | (size_t)header[1] << 8;
    size_t complement = (size_t)header[2] | (size_t)header[3] << 8;
    reader->position += 4;
    if (length != (~complement & 0xffff) || length > reader->length - reader->position ||
        length > out->length - out->used) {
        return false;
    }
    for (size_t i = 0; i < length; i++) {
        out->bytes[out->used++] = reader->in[reader->position++];
    }
    return true;
}

/* Reads a dynamic block's two codes. */
static bool readDynamicCodes(BitReader *reader, Huffman *literals, Huffman *distances) {
    static const uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    uint8_t lengths[320] = {0};
    int literalCount = readBits(reader, 5);
    int distanceCount = readBits(reader, 5);
    int lengthCount = readBits(reader, 4);
    if (literalCount < 0 || distanceCount < 0 || lengthCount < 0) {
        return false;
    }
    literalCount += 257;
    distanceCount += 1;
    lengthCount += 4;
    for (int i = 0; i < lengthCount; i++) {
        int length = readBits(reader, 3);
        if (length < 0) {
            return false;
        }
        lengths[order[i]] = (uint8_t)length;
    }
    Huffman lengthCode;
    if (literalCount > 286 || distanceCount > 30 || !buildHuffman(&lengthCode, lengths, 19)) {
        return false;
    }
    for (size_t i = 0; i < sizeof lengths; i++) {
        lengths[i] = 0;
    }
    for (int i = 0; i < literalCount + distanceCount;) {
        int symbol = decodeSymbol(reader, &lengthCode);
        if (symbol < 0) {
            return false;
        }
        if (symbol < 16) {
            lengths[i++] = (uint8_t)symbol;
            continue;
        }
        int repeat = symbol == 16 ? readBits(reader, 2) + 3
                                  : symbol == 17 ? readBits(reader, 3) + 3 : readBits(reader, 7) + 11;
        if (repeat < 3 || (symbol == 16 && i == 0) || i + repeat > literalCount + distanceCount) {
            return false;
        }
        uint8_t value = symbol == 16 ? lengths[i - 1] : 0;
        while (repeat-- > 0) {
            lengths[i++] = value;
        }
    }
    return lengths[256] != 0 && buildHuffman(literals, lengths, literalCount) &&
           buildHuffman(distances, lengths + literalCount, distanceCount);
}

bool jvmInflate(const uint8_t *in, size_t inLength, uint8_t *out, size_t outLength) {
    BitReader reader = {in, inLength, 0, 0, 0};
    Output output = {out, outLength, 0};
    Huffman literals;
    Huffman distances;
    int last = 0;
    while (last == 0) {
        last = readBits(&reader, 1);
        int type = readBits(&reader, 2);
        bool fine = false;
        if (type == 0) {
            fine = inflateStored(&reader, &output);
        } else if (type == 1) {
            uint8_t lengths[288 + 30];
            for (int symbol = 0; symbol < 288 + 30; symbol++) {
                lengths[symbol] = (uint8_t)(symbol < 144   ? 8
                                            : symbol < 256 ? 9
                                            : symbol < 280 ? 7
                                            : symbol < 288 ? 8
                                                           : 5);
            }
            fine = buildHuffman(&literals, lengths, 288) &&
                   buildHuffman(&distances, lengths + 288, 30) &&
                   inflateCodes(&reader, &output, &literals, &distances);
        } else if (type == 2) {
            fine = readDynamicCodes(&reader, &literals, &distances) &&
                   inflateCodes(&reader, &output, &literals, &distances);
        }
        if (last < 0 || !fine) {
            return false;
        }
    }
    return output.used == outLength;
}

uint32_t jvmCrc32(uint32_t crc, const uint8_t *data, size_t length) {
    crc = ~crc;
    for (size_t i = 0; i < length; i++) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; bit++) {
            crc = (crc >> 1) ^ (0xedb88320U & (0U - (crc & 1U)));
        }
    }
    return ~crc;
}

/* The little-endian 16-bit and 32-bit numbers at `at`. */
static uint32_t read16(const uint8_t *at) {
    return (uint32_t)at[0] | (uint32_t)at[1] << 8;
}
static uint32_t read32(const uint8_t *at) {
    return read16(at) | read16(at + 2) << 16;
}

/* Reads `length` bytes at `offset` of `fd` into a new heap buffer; null
 * when they cannot all be read. */
static uint8_t *readAt(int fd, off_t offset, size_t length) {
    uint8_t *bytes = (uint8_t *)malloc(length + 1);
    size_t done = 0;
    while (bytes != NULL && done < length) {
        ssize_t got = pread(fd, bytes + done, length - done, offset + (off_t)done);
        if (got <= 0) {
            free(bytes);
            return NULL;
        }
        done += (size_t)got;
    }
    return bytes;
}

/* Finds the manifest's entry in the central directory of the zip file
 * `fd` of `size` bytes; stores its local header's offset, method and
 * sizes. Returns JAR_READ when found, JAR_READ with *method -1 when the
 * zip has no manifest, else JAR_UNKNOWN. */
static JarStatus findManifestEntry(int fd, off_t size, uint32_t *localOffset, int *method,
                                   uint32_t *packedSize, uint32_t *plainSize) {
    *method = -1;
    if (size < END_RECORD_SIZE) {
        return JAR_UNKNOWN;
    }
    size_t tail = size < END_RECORD_SIZE + LARGEST_COMMENT ? (size_t)size
                                                           : (size_t)(END_RECORD_SIZE + LARGEST_COMMENT);
    uint8_t *end = readAt(fd, size - (off_t)tail, tail);
    const uint8_t *record = NULL;
    for (size_t at = tail - END_RECORD_SIZE + 1; end != NULL && record == NULL && at-- > 0;) {
        if (read32(end + at) == 0x06054b50U && at + END_RECORD_SIZE + read16(end + at + 20) == tail) {
            record = end + at;
        }
    }
    uint32_t entries = record != NULL ? read16(record + 10) : 0;
    uint32_t directorySize = record != NULL ? read32(record + 12) : 0;
    uint32_t directoryOffset = record != NULL ? read32(record + 16) : 0;
    free(end);
    if (record == NULL || entries == 0xffff || directoryOffset == 0xffffffffU ||
        directorySize > LARGEST_DIRECTORY || (off_t)directoryOffset + directorySize > size) {
        return JAR_UNKNOWN;
    }
    uint8_t *directory = readAt(fd, directoryOffset, directorySize);
    JarStatus status = directory != NULL ? JAR_READ : JAR_UNKNOWN;
    size_t at = 0;
    for (uint32_t i = 0; status == JAR_READ && *method < 0 && i < entries; i++) {
        const uint8_t *header = directory + at;
        if (directorySize - at < CENTRAL_HEADER_SIZE || read32(header) != 0x02014b50U) {
            status = JAR_UNKNOWN;
            break;
        }
        size_t nameLength = read16(header + 28);
        size_t skip = CENTRAL_HEADER_SIZE + nameLength + read16(header + 30) + read16(header + 32);
        if (directorySize - at < skip) {
            status = JAR_UNKNOWN;
            break;
        }
        if (nameLength == sizeof manifestName - 1 &&
            strncasecmp((const char *)header + CENTRAL_HEADER_SIZE, manifestName, nameLength) == 0) {
            *method = (int)read16(header + 10);
            *packedSize = read32(header + 20);
            *plainSize = read32(header + 24);
            *localOffset = read32(header + 42);
        }
        at += skip;
    }
    free(directory);
    return status;
}

/* The bytes of the manifest entry (zero-terminated, in *text, heap) read
 * from the local header at `localOffset`. */
static JarStatus readManifestText(int fd, off_t size, uint32_t localOffset, int method,
                                  uint32_t packedSize, uint32_t plainSize, char **text) {
    *text = NULL;
    if ((method != 0 && method != 8) || plainSize > LARGEST_MANIFEST ||
        packedSize > LARGEST_MANIFEST || (off_t)localOffset + LOCAL_HEADER_SIZE > size) {
        return JAR_UNKNOWN;
    }
    uint8_t *local = readAt(fd, localOffset, LOCAL_HEADER_SIZE);
    off_t dataOffset = local == NULL || read32(local) != 0x04034b50U
                           ? -1
                           : (off_t)localOffset + LOCAL_HEADER_SIZE + read16(local + 26) +
                                 read16(local + 28);
    free(local);
    if (dataOffset < 0 || dataOffset + (off_t)packedSize > size ||
        (method == 0 && packedSize != plainSize)) {
        return JAR_UNKNOWN;
    }
    uint8_t *packed = readAt(fd, dataOffset, packedSize);
    uint8_t *plain = method == 0 ? packed : (uint8_t *)calloc((size_t)plainSize + 1, 1);
    bool fine = packed != NULL && plain != NULL &&
                (method == 0 || jvmInflate(packed, packedSize, plain, plainSize));
    if (plain != packed) {
        free(packed);
    }
    if (!fine) {
        free(plain);
        return JAR_UNKNOWN;
    }
    plain[plainSize] = '\0';
    *text = (char *)plain;
    return JAR_READ;
}

/* Whether the `length` bytes at `name` are the attribute name `wanted`,
 * ignoring case. */
static bool isName(const char *name, size_t length, const char *wanted) {
    return strlen(wanted) == length && strncasecmp(name, wanted, length) == 0;
}

/* Stores the value of the main-section attribute line `line` (`length`
 * bytes, continuations already joined, zero-terminated) in its field of
 * *manifest. */
static void takeAttribute(const char *line, size_t length, JarManifest *manifest) {
    static const struct {
        const char *name;
        size_t offset;
    } texts[] = {
        {"Main-Class", offsetof(JarManifest, mainClass)},
        {"Add-Opens", offsetof(JarManifest, addOpens)},
        {"Add-Exports", offsetof(JarManifest, addExports)},
        {"Enable-Native-Access", offsetof(JarManifest, enableNativeAccess)},
        {"Launcher-Agent-Class", offsetof(JarManifest, launcherAgentClass)},
        {"Class-Path", offsetof(JarManifest, classPath)},
    };
    const char *colon = (const char *)memchr(line, ':', length);
    size_t nameLength = colon != NULL ? (size_t)(colon - line) : length;
    if (nameLength + 2 > length || colon[1] != ' ') {
        return;
    }
    const char *value = colon + 2;
    size_t valueLength = length - nameLength - 2;
    for (size_t i = 0; i < sizeof texts / sizeof texts[0]; i++) {
        char **field = (char **)((char *)manifest + texts[i].offset);
        if (isName(line, nameLength, texts[i].name) && *field == NULL) {
            *field = strndup(value, valueLength);
        }
    }
    bool yes = valueLength == 4 && strncasecmp(value, "true", 4) == 0;
    if (isName(line, nameLength, "Can-Redefine-Classes")) {
        manifest->canRedefineClasses = yes;
    } else if (isName(line, nameLength, "Can-Retransform-Classes")) {
        manifest->canRetransformClasses = yes;
    } else if (isName(line, nameLength, "Can-Set-Native-Method-Prefix")) {
        manifest->canSetNativeMethodPrefix = yes;
    }
}

/* Reads the main section of manifest text `text` (up to its first blank
 * line) into *manifest: lines end in CR LF, LF or CR, and a line starting
 * with a space continues the one before. Returns false when memory runs
 * out. */
static bool parseMainSection(const char *text, JarManifest *manifest) {
    size_t capacity = strlen(text) + 1;
    char *line = (char *)calloc(capacity, 1);
    size_t length = 0;
    if (line == NULL) {
        return false;
    }
    for (const char *at = text; *at != '\0';) {
        size_t span = strcspn(at, "\r\n");
        const char *next = at + span;
        next += next[0] == '\r' && next[1] == '\n' ? 2 : next[0] != '\0' ? 1 : 0;
        if (span > 0 && at[0] == ' ') {
            for (size_t i = 1; i < span; i++) {
                line[length++] = at[i];
            }
        } else {
            if (length > 0) {
                line[length] = '\0';
                takeAttribute(line, length, manifest);
            }
            if (span == 0) {
                length = 0;
                break;
            }
            for (length = 0; length < span; length++) {
                line[length] = at[length];
            }
        }
        at = next;
    }
    if (length > 0) {
        line[length] = '\0';
        takeAttribute(line, length, manifest);
    }
    free(line);
    return true;
}

JarStatus jvmReadManifest(const char *path, JarManifest *manifest) {
    *manifest = noManifest;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        if (fd >= 0) {
            close(fd);
        }
        return JAR_UNREADABLE;
    }
    uint32_t localOffset = 0;
    uint32_t packedSize = 0;
    uint32_t plainSize = 0;
    int method = -1;
    char *text = NULL;
    JarStatus result = findManifestEntry(fd, status.st_size, &localOffset, &method, &packedSize,
                                         &plainSize);
    if (result == JAR_READ && method >= 0) {
        result = readManifestText(fd, status.st_size, localOffset, method, packedSize, plainSize,
                                  &text);
    }
    close(fd);
    if (result == JAR_READ && text != NULL && !parseMainSection(text, manifest)) {
        result = JAR_UNKNOWN;
    }
    free(text);
    if (result != JAR_READ) {
        jvmReleaseManifest(manifest);
    }
    return result;
}

void jvmReleaseManifest(JarManifest *manifest) {
    free(manifest->mainClass);
    free(manifest->addOpens);
    free(manifest->addExports);
    free(manifest->enableNativeAccess);
    free(manifest->launcherAgentClass);
    free(manifest->classPath);
    *manifest = noManifest;
}
