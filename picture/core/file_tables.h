// The two built-in tables of file operations.
#ifndef PICTURE_CORE_FILE_TABLES_H
#define PICTURE_CORE_FILE_TABLES_H

#include "picture/core/picture.h"

// Constant-initialised: usable from the first instruction, before any dynamic
// initialiser (an application's global constructor may save a picture).
extern const picFileOps picDiskFiles;
extern const picFileOps picMemoryFiles;

// The bytes of a stream of picMemoryFiles opened for reading, and their count,
// for reading in place; null for a stream opened for writing.
const uint8_t* picMemoryFileBytes(void* stream, long* length);

// The read-ahead buffer of a stream of picDiskFiles opened for reading: fills
// it so that at least n bytes (at most its capacity) follow the position when
// the file has them, points *bytes at the position and answers how many bytes
// are held from there. Valid until the stream's next operation.
int picDiskPeek(void* stream, int n, const uint8_t** bytes);

#endif
