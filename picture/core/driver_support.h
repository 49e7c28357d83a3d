// What format drivers share: the built-in driver records, the open-image
// record's allocation, the size guard, the resolution callback, and byte
// access to headers held in memory. Internal to the picture library.
#ifndef PICTURE_CORE_DRIVER_SUPPORT_H
#define PICTURE_CORE_DRIVER_SUPPORT_H

#include <cstdint>
#include <memory>
#include <new>

#include "picture/core/picture.h"

extern "C" {
picDriver* picBmpDriver(void);
picDriver* picPcxDriver(void);
picDriver* picGifDriver(void);
picDriver* picTiffDriver(void);
picDriver* picSunDriver(void);
picDriver* picSgiDriver(void);
picDriver* picJpegDriver(void);
picDriver* picZotDriver(void);
picDriver* picTargaDriver(void);
}

// A zero-filled picFile with planeOrder 0, 1, 2, or null when memory runs out.
picFile* picNewFile();
void picFreeFile(picFile* file);

// The description every driver gives: sides, colour mode, compression and
// colours (0 for true colour); the other fields keep what the driver sets.
inline void picDescribe(picFile* file, int width, int height, int colourMode, int compression, int colours) {
  file->width = width;
  file->height = height;
  file->colourMode = colourMode;
  file->compression = compression;
  file->colours = colourMode == PIC_MAP ? colours : 0;
}

// A zero-filled buffer of `size` bytes, or null when memory runs out.
inline std::unique_ptr<uint8_t[]> picNewBytes(size_t size) {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size]());
}

// A driver's state, value-initialised (a plain record comes zero-filled), or
// null when memory runs out; freed with picDeleteState. Records that libjpeg
// or libpng may longjmp across hold nothing with a destructor.
template <typename State>
State* picNewState() {
  return new (std::nothrow) State();
}
template <typename State>
void picDeleteState(State* state) {
  delete state;
}

// Refusals say why: a driver or operation that refuses a file records a short
// constant reason ("16-bit samples", "run passes the row") and returns the
// status, picRefuse(PIC_ERR_DATA, "tiles"). The first reason recorded in an
// operation stands; operations clear it as they start (picClearReason) and
// after success (picOperationResult). picLastReason reads it (picture.h).
int picRefuse(int status, const char* reason);
void picClearReason();
int picOperationResult(int status);

// Indices packed 1, 2, 4 or 8 bits each, most significant first, one to a
// byte; with `invert`, each index i becomes (2^bits - 1) - i. Reads
// ceil(width * bits / 8) bytes. The plain loop is the reference it is tested against.
void picUnpackIndices(const uint8_t* packed, int bitsPerIndex, int width, bool invert, uint8_t* indices);
void picUnpackIndicesPlain(const uint8_t* packed, int bitsPerIndex, int width, bool invert, uint8_t* indices);

// PIC_OK when width and height are positive and width * height, and
// width * bytesPerPixel, fit an int; PIC_ERR_DATA otherwise. Values come in
// 64 bits so that callers can pass header fields before narrowing them.
int picCheckImageSize(int64_t width, int64_t height, int64_t bytesPerPixel = 1);

// picCheckImageSize for a file being read: also PIC_ERR_DATA when width *
// height passes the pixel limit (picSetPixelLimit). Every reader checks it
// before it allocates anything the header sizes.
int picCheckReadSize(int64_t width, int64_t height, int64_t bytesPerPixel = 1);
bool picWithinPixelLimit(int64_t width, int64_t height);

// Colour maps shorter than their indices. A caller sizes its map from
// `colours`, so a colour-mapped reader whose file holds fewer palette entries
// than its indices' bits can address describes every index those bits allow
// (at most 256) and gives the entries the file lacks as black, as other
// readers show them. A palette that covers its indices is described as it is.
inline int picColoursForIndices(int paletteEntries, int bitsPerIndex) {
  const int reach = bitsPerIndex >= 8 ? PIC_MAX_COLOURS : bitsPerIndex > 0 ? 1 << bitsPerIndex : 1;
  return paletteEntries < reach ? reach : paletteEntries;
}
// Blackens map[paletteEntries .. colours): the entries past the file's palette.
inline void picFillMissingColours(int32_t* map, int paletteEntries, int colours) {
  for (int i = paletteEntries < 0 ? 0 : paletteEntries; i < colours && i < PIC_MAX_COLOURS; ++i) map[i] = 0;
}

// Calls the resolution callback when one is installed.
void picCallResolution(const char* fileName, double* xRes, double* yRes, int* unit);

// This thread's JPEG quality (PIC_CONTROL_JPEG_QUALITY_THREAD), 0 for none:
// kept with the other thread settings so that picClearThreadSettings drops it.
int picThreadJpegQuality();
void picSetThreadJpegQuality(int quality);

// The current callbacks (null when unset).
picProgressCallback picGetProgressCallback();
picResolutionCallback picGetResolutionCallback();

// Closes a driver's stream and forgets it, for the driver's close to report:
// PIC_OK, or PIC_ERR_WRITE when a byte of a written file was lost.
inline int picCloseStream(picBinFile*& stream) {
  const int status = picBinClose(stream);
  stream = nullptr;
  return status;
}

// Sets *status when the pointer is not null; returns `result` for tail calls.
inline picFile* picOpenResult(int* status, int code, picFile* result) {
  if (status) *status = code;
  return result;
}

// Whether the processor has SSSE3, for the vectorised paths chosen at run time.
bool picHasSsse3();

// Interleaves one line of three planes into 3-byte pixels, samples in the
// order given: (red, green, blue) for RGB files, (blue, green, red) for BGR.
// Vectorised like picSplitPixels; the plain loop is its reference.
void picPackPixels(const uint8_t* first, const uint8_t* second, const uint8_t* third, int width,
                   uint8_t* pixels);
void picPackPixelsPlain(const uint8_t* first, const uint8_t* second, const uint8_t* third, int width,
                        uint8_t* pixels);

// The inverse: splits `width` pixels of `pixelBytes` (3 or 4; a fourth byte is
// skipped) into three planes, byte 0 of each pixel to `first`, byte 1 to
// `second`, byte 2 to `third`: (blue, green, red) for BGR files. It reads
// (width - 1) * pixelBytes + 3 bytes, never the last pixel's fourth. Vectorised
// where the processor allows (split_planes.cpp); the plain loop is the
// reference it is tested against. The source must not overlap the planes.
void picSplitPixels(const uint8_t* pixels, int pixelBytes, int width, uint8_t* first, uint8_t* second,
                    uint8_t* third);
void picSplitPixelsPlain(const uint8_t* pixels, int pixelBytes, int width, uint8_t* first,
                         uint8_t* second, uint8_t* third);
// The paths picSplitPixels and picPackPixels choose between, for tests: the
// plain loop, SSSE3 shuffles, AVX2 shuffles (packs only: a split by it is an
// SSSE3 split), AVX-512 VBMI permutes; picSplitPixelsBy falls back to the next
// simpler one the processor has.
enum class picSplitPath { plain, ssse3, avx2, vbmi };
void picSplitPixelsBy(picSplitPath path, const uint8_t* pixels, int pixelBytes, int width, uint8_t* first,
                      uint8_t* second, uint8_t* third);
// picPackPixels by a given path, as picSplitPixelsBy.
void picPackPixelsBy(picSplitPath path, const uint8_t* first, const uint8_t* second, const uint8_t* third,
                     int width, uint8_t* pixels);

// The whole file's bytes and their count when the stream reads a memory file
// (picUseMemoryFiles), so that a driver can decode them in place; null for
// any other file table, or a stream opened for writing. Valid until the stream
// is closed; the position is picBinTell's.
const uint8_t* picBinMemoryBytes(picBinFile* file, long* size);
// The next `n` bytes in place, the stream moved past them: a memory file's
// (valid until it is closed) or those in a disk file's read-ahead buffer
// (valid until the stream's next operation); null (the stream unmoved) for
// other files, when fewer are left, or when n passes the disk buffer.
const uint8_t* picBinTakeInPlace(picBinFile* file, long n);
// The bytes that follow the position of a disk file opened for reading, as
// they lie in its read-ahead buffer, with at least min(n, the buffer's
// capacity) of them when the file has them; *bytes valid until the stream's
// next operation. Answers how many are shown, 0 for other files.
int picBinPeek(picBinFile* file, int n, const uint8_t** bytes);

// Reads `lineCount` lines of `bytesPerLine` bytes from a stream's current
// position a block of about 32 KB at a time, never past the last line, and
// hands them out one by one (from a memory file or a disk file's read-ahead
// buffer, in place: picBinTakeInPlace). A line the data does not complete is
// an error; the complete ones before it are still given.
struct picLineBlock {
  // Allocates the block; false when memory runs out or a size is not positive.
  bool start(int bytesPerLine, int lineCount);
  // The next line, or null at a read error, at the data's end or after the last line.
  const uint8_t* next(picBinFile* stream);
  bool started() const { return block != nullptr; }

 private:
  std::unique_ptr<uint8_t[]> block;
  int lineBytes = 0, linesPerBlock = 0, linesLeft = 0, linesHeld = 0, nextLine = 0;
};

// A stream read through a window: look at up to n bytes ahead, then consume
// what was used. A memory file's bytes are shown where they lie, a disk file's
// in its own read-ahead buffer (picBinPeek); any other stream is read a block
// at a time into a buffer that keeps the bytes not yet consumed (the one
// read-ahead buffer of every driver). The end of the data
// is told apart from a read error. While it is in use, the driver reads the
// stream through it alone; release() leaves the stream just past what was consumed.
class picInputWindow {
 public:
  // False when the block cannot be had. `blockBytes` bounds what one look shows.
  bool start(picBinFile* stream, int blockBytes = 32768);
  // Shows up to n bytes from the position: returns how many (fewer only at the
  // end of the data or after a read error); *bytes is valid until the next call.
  int look(int n, const uint8_t** bytes);
  void consume(int n) { next_ += n; }  // at most what the last look showed
  int get() {  // the next byte, or -1 at the end or on an error
    const uint8_t* byte;
    if (next_ == held_ && look(1, &byte) < 1) return -1;
    return view_[next_++];
  }
  bool read(void* destination, int n);  // exactly n bytes, or false
  bool skip(int64_t n);                 // false when the data ends first
  int64_t position() const { return viewStart_ + next_; }
  bool failed() const { return failed_; }  // a read error, not the end of the data
  bool ended() const { return ended_; }
  void release();  // the stream moved to position()

 private:
  picBinFile* stream_ = nullptr;
  std::unique_ptr<uint8_t[]> block_;
  int capacity_ = 0;
  const uint8_t* view_ = nullptr;  // the bytes shown; view_[next_] is the next one
  int64_t viewStart_ = 0;           // the stream position of view_[0]
  int held_ = 0, next_ = 0;
  bool inPlace_ = false, borrowed_ = false, failed_ = false, ended_ = false;
};

// Little- and big-endian fields of a header held in memory.
inline uint16_t picGetLE16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t picGetLE32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t picGetBE16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t picGetBE32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline void picPutLE16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void picPutLE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}
inline void picPutBE16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); }
inline void picPutBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
}

#endif
