// libtiff's client procedures on a picBinFile (tiff_client.h). Counts are the
// bytes really transferred.
#include "picture/formats/tiff_client.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "picture/core/driver_support.h"

const uint8_t tiffMagics[4][4] = {
    {'I', 'I', 42, 0}, {'M', 'M', 0, 42},  // classic TIFF
    {'I', 'I', 43, 0}, {'M', 'M', 0, 43},  // BigTIFF
};

namespace {

// Largest single block libtiff may allocate for one file: far above any strip
// of an image the library can hold, far below what a hostile header asks.
const tmsize_t tiffMaxSingleAlloc = tmsize_t(1) << 30;
// Largest transfer handed to the file layer at once (its counts are ints).
const tmsize_t tiffMaxTransfer = tmsize_t(1) << 30;

picBinFile* streamOf(thandle_t handle) { return static_cast<TiffStream*>(handle)->stream; }

tmsize_t tiffRead(thandle_t handle, void* buffer, tmsize_t count) {
  picBinFile* stream = streamOf(handle);
  if (stream->mode != PIC_BIN_READ || count < 0) return -1;
  auto* bytes = static_cast<uint8_t*>(buffer);
  tmsize_t done = 0;
  while (done < count) {
    const int piece = int(std::min(count - done, tiffMaxTransfer));
    int got = picBinRead(stream, bytes + done, piece);
    // A memory stream refuses a read past its end whole: take what is there.
    if (got <= 0) got = picBinReadAvailable(stream, bytes + done, piece);
    if (got > 0) done += got;
    if (got != piece) break;
  }
  return done;
}

tmsize_t tiffWrite(thandle_t handle, void* buffer, tmsize_t count) {
  picBinFile* stream = streamOf(handle);
  if (stream->mode != PIC_BIN_WRITE || count < 0) return -1;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  tmsize_t done = 0;
  while (done < count) {
    const int piece = int(std::min(count - done, tiffMaxTransfer));
    const int put = picBinWrite(stream, bytes + done, piece);
    if (put > 0) done += put;
    if (put != piece || picBinError(stream)) break;
  }
  return done;
}

toff_t tiffSeek(thandle_t handle, toff_t offset, int whence) {
  picBinFile* stream = streamOf(handle);
  const auto distance = static_cast<int64_t>(offset);
  const toff_t failed = static_cast<toff_t>(-1);
  if (distance > INT_MAX || distance < INT_MIN) return failed;
  int result = 0;
  switch (whence) {
    case SEEK_SET:
      if (distance < 0) return failed;
      result = picBinSeekSet(stream, int(distance));
      break;
    case SEEK_CUR: result = picBinSeekCur(stream, int(distance)); break;
    case SEEK_END: result = picBinSeekEnd(stream, int(distance)); break;
    default: break;
  }
  if (result != 0 || picBinError(stream)) return failed;
  const long position = picBinTell(stream);
  return position < 0 ? failed : toff_t(position);
}

int tiffClose(thandle_t handle) {
  auto* client = static_cast<TiffStream*>(handle);
  client->closeStatus = picBinClose(client->stream);
  return client->closeStatus == PIC_OK ? 0 : -1;
}

toff_t tiffSize(thandle_t handle) {
  const long size = picBinSize(streamOf(handle));
  return size < 0 ? 0 : toff_t(size);
}

// A memory file is handed to libtiff whole, as it maps a disk file: strips are
// then decoded from it in place, without a copy through tiffRead.
int tiffMap(thandle_t handle, void** base, toff_t* size) {
  long length = 0;
  const uint8_t* bytes = picBinMemoryBytes(streamOf(handle), &length);
  if (!bytes || length <= 0) return 0;
  *base = const_cast<uint8_t*>(bytes);
  *size = toff_t(length);
  return 1;
}
void tiffUnmap(thandle_t, void*, toff_t) {}

// libtiff's messages stop here, for this file only; other users of libtiff
// keep their own handlers.
int tiffSilence(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace

TIFF* tiffClientOpen(const char* fileName, const char* mode, TiffStream* handle) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, tiffSilence, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, tiffSilence, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, tiffMaxSingleAlloc);
  TIFF* tiff = TIFFClientOpenExt(fileName, mode, handle, tiffRead, tiffWrite, tiffSeek, tiffClose, tiffSize,
                                 tiffMap, tiffUnmap, options);
  TIFFOpenOptionsFree(options);
  return tiff;
}

bool tiffHasMagic(picBinFile* stream) {
  uint8_t head[4];
  const bool complete = picBinReadAvailable(stream, head, 4) == 4;
  picBinSeekSet(stream, 0);
  if (!complete || picBinError(stream)) return false;
  for (const auto& magic : tiffMagics)
    if (std::memcmp(head, magic, 4) == 0) return true;
  return false;
}

bool tiffFirstDirectoryPastEnd(picBinFile* stream) {
  uint8_t head[16];
  picBinSeekSet(stream, 0);
  const int got = picBinReadAvailable(stream, head, int(sizeof head));
  picBinSeekSet(stream, 0);
  const long size = picBinSize(stream);
  const bool little = head[0] == 'I', big = head[2] == 43 || head[3] == 43;
  if (got < (big ? 16 : 8) || size < 0) return got < (big ? 16 : 8);
  uint64_t offset;
  if (big)
    offset = little ? uint64_t(picGetLE32(head + 12)) << 32 | picGetLE32(head + 8)
                    : uint64_t(picGetBE32(head + 8)) << 32 | picGetBE32(head + 12);
  else
    offset = little ? picGetLE32(head + 4) : picGetBE32(head + 4);
  return offset > uint64_t(size) || uint64_t(size) - offset < (big ? 8u : 2u);
}
