// The launch data's way from the auxiliary library to the runtime: the
// child has the library build the record block and sends it as the pipe
// frame; the parent receives the frame, checks the block and rebases it.
// Shared by the launcher's entry and the tools that must obtain and check
// launch data exactly as the launcher does.
//
// Pipe frame, child to parent, native byte order: the block size N
// (4 bytes, signed), the block's address in the child (8 bytes), then the
// N bytes of the block. A child without a record sends nothing.
#ifndef RECORD_HANDOFF_H
#define RECORD_HANDOFF_H

#include <stdint.h>

#include "launcher.h"

// Writes all `length` bytes, repeating after short writes and EINTR.
// Returns `length`, or -1 on any other failure.
int64_t writeFully(int fd, const void *data, uint64_t length);

// Reads until `length` bytes have arrived, repeating after EINTR. Returns
// `length`, fewer bytes at end of file, or -1 on any other failure.
int64_t readFully(int fd, void *buffer, uint64_t length);

// The dynamic loader's error text, never null.
const char *loaderError();

// Loads the auxiliary library at `path` and has it build the record from
// the command line argc/argv (which must outlive the call). Unloads the
// library before returning. Returns the record block (heap memory; stores
// its size in *size) or null, after logging a loader failure, a null table
// or a table with a null entry (which is never called, and no handle is
// asked for); a null handle or a declined record adds no line. Says in
// *failure (when not null) why there is no record, or recordObtained.
KivlLauncherData *obtainRecord(const char *path, int32_t argc, char **argv, int32_t *size,
                               RecordFailure *failure);

// Sends the frame: size, the block's address here, the block.
// Returns 0, or 1 after logging a failed write.
int sendRecord(int fd, const KivlLauncherData *record, int32_t size);

// Receives the frame from `fd`: the block, in fresh heap memory, is
// returned with its size and the address it had in the child stored in
// *size and *childAddress. Returns null after one log line when the frame
// does not arrive whole.
unsigned char *receiveBlock(int fd, int32_t *size, uint64_t *childAddress);

// Checks a received block of `size` bytes that lay at `base` in the child,
// before anything reads through its pointers: it holds the whole record,
// both counts are 0 or more, the three arrays lie inside the block past the
// record without overlapping each other, and every string lies inside the
// block past the record, outside the arrays (the rebase rewrites them), and
// ends with a zero inside it. Reads the block in linear time. Returns null
// when the block is sound, else the reason.
const char *checkReceivedRecord(const unsigned char *block, uint64_t size, uint64_t base);

// Moves every pointer of a received record by `delta`: the four fields
// first, then the array entries through the moved array pointers.
void rebaseRecord(KivlLauncherData *record, intptr_t delta);

// Checks a received block and rebases it to where it now lies. Returns it
// as the record, or frees it and returns null after one log line.
KivlLauncherData *acceptRecord(unsigned char *block, int32_t size, uint64_t childAddress);

#endif
