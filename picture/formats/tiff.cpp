// TIFF through libtiff. Reads the first image of a file whose unsigned integer
// samples lie contiguously in strips, with any compression libtiff decodes:
// bilevel, 4- and 8-bit grey and 4- and 8-bit palette images as colour-mapped
// images, 8-bit RGB as true colour. Writes 8-bit palette and 8-bit RGB images,
// uncompressed, PackBits or LZW. Refuses other depths, separate planes,
// floating-point or signed samples, extra samples and tiled images.
// libtiff reads and writes through the picture library's file layer, so the
// memory file table works, and its messages are silenced per open file.
// LZW strips of current writers, with or without the horizontal predictor on
// 8-bit samples, are decoded here (tiff_lzw.cpp), faster than libtiff does.
// A memory file is handed to libtiff whole (as it maps disk files), and its
// uncompressed strips are read where they lie, without a copy. A file whose
// first directory lies past its end is cut: PIC_ERR_READ, not unrecognised.
// Memory: one scanline of ours, and libtiff's directory and strip buffers, which
// it sizes from the strip byte counts and reads in growing pieces (so a strip
// the file does not hold is not allocated whole); no block above 1 GB. Strips
// decoded here take a strip of ours and their raw bytes, no more than the file
// holds and a few times the strip.
#include <tiffio.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "picture/core/driver_support.h"
#include "picture/core/format_info.h"
#include "picture/formats/tiff_lzw.h"

namespace {

const uint8_t tiffMagics[][4] = {
    {'I', 'I', 42, 0}, {'M', 'M', 0, 42},  // classic TIFF
    {'I', 'I', 43, 0}, {'M', 'M', 0, 43},  // BigTIFF
};

// Largest single block libtiff may allocate for one file: far above any strip
// of an image the library can hold, far below what a hostile header asks.
const tmsize_t tiffMaxSingleAlloc = tmsize_t(1) << 30;
// Largest transfer handed to the file layer at once (its counts are ints).
const tmsize_t tiffMaxTransfer = tmsize_t(1) << 30;

// Reading decodes a whole strip at a time (TIFFReadEncodedStrip: no copy of
// libtiff's own for uncompressed strips, no call per line) when the strip
// holds at most this much, else one TIFFReadScanline a line.
const int64_t tiffMaxStripBuffer = int64_t(4) << 20;
// Raw bytes of an LZW strip decoded here, at most: this many times its
// decoded size and some. Real LZW never comes near; a strip above goes to libtiff.
const int64_t tiffMaxLzwExpansion = 4;
const int64_t tiffLzwRawSlack = 4096;

struct TiffState {
  int lineSize;         // bytes of one scanline in lineBuffer
  uint8_t* lineBuffer;  // one scanline as libtiff delivers or takes it
  bool stripsChecked;   // reading: whether lines come from whole strips is decided
  bool stripBufferMissing;  // whole strips were chosen but their buffer could not be had
  uint8_t* stripBuffer;  // reading by strips: the decoded strip, else null
  uint32_t rowsPerStrip;
  int64_t bufferedStrip;  // the strip in stripData, -1 for none
  const uint8_t* stripData;  // its lines: stripBuffer, or the memory file's bytes
  bool stripsInPlace;        // uncompressed strips of a memory file are read there
  uint32_t bufferedLines;  // whole lines of it decoded
  bool lzwStrips;          // strips are LZW this driver decodes itself
  int predictorSamples;    // horizontal differencing across this many bytes, 0 for none
  uint8_t* rawStrip;       // the raw bytes of an LZW strip
  int64_t rawCapacity;
  TIFF* tiff;
  uint16_t photometric;
  picBinFile* stream;  // closed by libtiff once it owns it
  int streamClose;     // what the stream's close answered: TIFFClose keeps it to itself
};

TiffState* stateOf(picFile* file) { return static_cast<TiffState*>(file->driverData); }

// What the driver makes of a file's sample layout.
struct TiffLayout {
  int colourMode;
  int colours;
  int64_t lineSize;
};

// Why a layout is not read, or null for a supported one (the caller reports
// PIC_ERR_DATA).
const char* unsupportedLayout(uint16_t sampleFormat, uint16_t planarConfig, bool tiled, uint16_t bits) {
  if (sampleFormat == SAMPLEFORMAT_IEEEFP) return "floating-point samples";
  if (sampleFormat != SAMPLEFORMAT_UINT) return "samples not unsigned integers";
  if (planarConfig != PLANARCONFIG_CONTIG) return "separate planes";
  if (tiled) return "tiles";
  if (bits == 16) return "16-bit samples";
  return nullptr;
}

// The supported layouts; false for any other (the caller reports PIC_ERR_DATA).
bool classifyLayout(uint16_t bits, uint16_t samples, uint16_t photometric, int64_t width,
                    TiffLayout* layout) {
  const bool grey = photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
  const bool palette = photometric == PHOTOMETRIC_PALETTE;
  if (samples == 1 && bits == 1 && grey) {
    *layout = {PIC_MAP, 2, (width + 7) / 8};
  } else if (samples == 1 && bits == 4 && (grey || palette)) {
    *layout = {PIC_MAP, 16, (width + 1) / 2};
  } else if (samples == 1 && bits == 8 && (grey || palette)) {
    *layout = {PIC_MAP, 256, width};
  } else if (samples == 3 && bits == 8 && photometric == PHOTOMETRIC_RGB) {
    *layout = {PIC_RGB, 0, width * 3};
  } else {
    return false;
  }
  return true;
}

// Why classifyLayout turned a layout down.
const char* unsupportedKind(uint16_t samples, uint16_t photometric) {
  const bool grey = photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
  const bool palette = photometric == PHOTOMETRIC_PALETTE, rgb = photometric == PHOTOMETRIC_RGB;
  if (samples != 1 && samples != 3) return "extra samples";
  if (!grey && !palette && !rgb) return "colour space other than grey, palette or RGB";
  if ((samples == 3) != rgb) return "samples that do not fit the colour space";
  if (palette) return "palette depth other than 4 or 8 bits";
  if (grey) return "grey depth other than 1, 4 or 8 bits";
  return "RGB depth other than 8 bits";
}

// Without a PhotometricInterpretation tag: three samples are RGB, anything
// else is grey with 0 = black, as libtiff's own RGBA reader assumes.
uint16_t defaultPhotometric(uint16_t samples) {
  return samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
}

// A grey ramp of `colours` entries; min-is-white runs from white to black.
void greyRamp(int colours, bool minIsWhite, int32_t* map) {
  const double step = colours > 1 ? 255.0 / (colours - 1) : 0.0;
  for (int i = 0; i < colours; ++i) {
    const int v = minIsWhite ? colours - 1 - i : i;
    const int level = int(v * step);
    map[i] = picEncodeColour(level, level, level);
  }
}

// The 8-bit level of a 16-bit map component: its high byte, as libtiff's own
// RGBA reader takes it. Most writers store level * 256, which scaling by
// 255 / 65535 would read one level low.
int mapLevel(uint16_t component) { return component >> 8; }

// A map component for an 8-bit level: the level in both bytes (level * 257),
// so that readers taking the high byte and readers scaling by 65535 both get
// the level back.
uint16_t mapComponent(uint8_t level) { return uint16_t(level * 257); }

// The file procedures libtiff calls. Counts are the bytes really transferred.
// libtiff's client handle is the driver's state.
picBinFile* streamOf(thandle_t handle) { return static_cast<TiffState*>(handle)->stream; }

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
  auto* state = static_cast<TiffState*>(handle);
  state->streamClose = picBinClose(state->stream);
  return state->streamClose == PIC_OK ? 0 : -1;
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

// Opens libtiff on an open stream; on failure the stream stays the caller's.
TIFF* tiffOpen(const char* fileName, const char* mode, TiffState* state) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, tiffSilence, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, tiffSilence, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, tiffMaxSingleAlloc);
  TIFF* tiff = TIFFClientOpenExt(fileName, mode, state, tiffRead, tiffWrite, tiffSeek, tiffClose,
                                 tiffSize, tiffMap, tiffUnmap, options);
  TIFFOpenOptionsFree(options);
  return tiff;
}

// Whether the stream starts with a TIFF header; leaves it at the start.
bool hasTiffMagic(picBinFile* stream) {
  uint8_t head[4];
  const bool complete = picBinReadAvailable(stream, head, 4) == 4;
  picBinSeekSet(stream, 0);
  if (!complete || picBinError(stream)) return false;
  for (const auto& magic : tiffMagics)
    if (std::memcmp(head, magic, 4) == 0) return true;
  return false;
}

// Whether a TIFF header's first directory (and its entry count) lies past the
// end of the data: the file was cut, or is still arriving. Leaves the stream
// at the start.
bool firstDirectoryPastEnd(picBinFile* stream) {
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

// Releases what an open made, in one place for every path.
picFile* release(picFile* file, TiffState* state, int* status, int code) {
  if (state) {
    if (state->tiff)
      TIFFClose(state->tiff);  // closes the stream too
    else if (state->stream)
      picBinClose(state->stream);
    std::free(state->lineBuffer);
    std::free(state->stripBuffer);
    std::free(state->rawStrip);
  }
  picDeleteState(state);
  picFreeFile(file);
  return picOpenResult(status, code, nullptr);
}

// Allocates the line buffer, never smaller than what libtiff delivers or takes.
bool allocateLine(TiffState* state, int64_t lineSize) {
  const int64_t scanline = int64_t(TIFFScanlineSize64(state->tiff));
  const int64_t size = std::max(lineSize, scanline);
  if (size <= 0 || size > INT_MAX) return false;
  state->lineBuffer = static_cast<uint8_t*>(std::malloc(size_t(size)));
  state->lineSize = int(size);
  return state->lineBuffer != nullptr;
}

int compressionCode(uint16_t compression) {
  if (compression == COMPRESSION_NONE) return PIC_COMP_NONE;
  if (compression == COMPRESSION_PACKBITS) return PIC_COMP_RLE;
  return PIC_COMP_LZW;
}

void reportResolution(const char* fileName, TIFF* tiff) {
  if (!picGetResolutionCallback()) return;
  double xRes = 0.0, yRes = 0.0;
  int unit = PIC_RES_NONE;
  uint16_t resolutionUnit = RESUNIT_INCH;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &resolutionUnit);
  if (resolutionUnit != RESUNIT_NONE) {
    float x = 0.0f, y = 0.0f;
    if (TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &x)) xRes = x;
    if (TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &y)) yRes = y;
    unit = resolutionUnit == RESUNIT_INCH ? PIC_RES_INCH : PIC_RES_CM;
  }
  picCallResolution(fileName, &xRes, &yRes, &unit);
}

picFile* openRead(const char* fileName, int* status) {
  picFile* file = picNewFile();
  auto* state = picNewState<TiffState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->stream = picBinOpen(fileName, PIC_BIN_READ, PIC_LITTLE_ENDIAN);
  if (!state->stream || !hasTiffMagic(state->stream))
    return release(file, state, status, PIC_ERR_FORMAT);
  state->tiff = tiffOpen(fileName, "r", state);
  if (!state->tiff)
    return release(file, state, status,
                   firstDirectoryPastEnd(state->stream) ? picRefuse(PIC_ERR_READ, "first directory past the end")
                                                        : picRefuse(PIC_ERR_FORMAT, "unreadable first directory"));
  TIFF* tiff = state->tiff;

  uint16_t compression = COMPRESSION_NONE;
  uint32_t width = 0, height = 0;
  uint16_t bits = 1, samples = 1, sampleFormat = SAMPLEFORMAT_UINT, planarConfig = PLANARCONFIG_CONTIG;
  TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &state->photometric))
    state->photometric = defaultPhotometric(samples);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
  TIFFGetField(tiff, TIFFTAG_PLANARCONFIG, &planarConfig);
  reportResolution(fileName, tiff);

  TiffLayout layout = {samples >= 3 ? PIC_RGB : PIC_MAP, 0, 0};
  const char* unsupported = unsupportedLayout(sampleFormat, planarConfig, TIFFIsTiled(tiff), bits);
  if (!unsupported && !classifyLayout(bits, samples, state->photometric, width, &layout))
    unsupported = unsupportedKind(samples, state->photometric);
  const bool supported = !unsupported;
  if (!supported && layout.colourMode == PIC_MAP) layout.colours = bits < 8 ? 1 << bits : 256;
  picDescribe(file, int(std::min<uint32_t>(width, INT_MAX)), int(std::min<uint32_t>(height, INT_MAX)),
              layout.colourMode, compressionCode(compression), layout.colours);
  file->mapFirst = 1;
  file->currentLine = file->height - 1;
  file->driverData = state;

  if (!supported) return picOpenResult(status, picRefuse(PIC_ERR_DATA, unsupported), file);
  if (picCheckReadSize(width, height, 3) != PIC_OK) return picOpenResult(status, PIC_ERR_DATA, file);
  if (!TIFFIsCODECConfigured(compression))
    return picOpenResult(status, picRefuse(PIC_ERR_COMPRESSION, "unknown compression"), file);
  if (!allocateLine(state, layout.lineSize)) return release(file, state, status, PIC_ERR_OPEN);
  return picOpenResult(status, PIC_OK, file);
}

uint16_t tiffCompression(int compression) {
  if (compression == PIC_COMP_RLE) return COMPRESSION_PACKBITS;
  if (compression == PIC_COMP_LZW) return COMPRESSION_LZW;
  return COMPRESSION_NONE;
}

void writeResolution(const char* fileName, TIFF* tiff) {
  if (!picGetResolutionCallback()) return;
  double xRes = 0.0, yRes = 0.0;
  int unit = PIC_RES_NONE;
  picCallResolution(fileName, &xRes, &yRes, &unit);
  if (unit == PIC_RES_NONE) return;
  TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, unit == PIC_RES_INCH ? RESUNIT_INCH : RESUNIT_CENTIMETER);
  TIFFSetField(tiff, TIFFTAG_XRESOLUTION, xRes);
  TIFFSetField(tiff, TIFFTAG_YRESOLUTION, yRes);
}

picFile* openWrite(const char* fileName, int width, int height, int colourMode, int compression,
                   int colours, int* status) {
  if (colourMode != PIC_RGB && colourMode != PIC_MAP)
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "unknown colour mode"), nullptr);
  if (colourMode == PIC_MAP && (colours < 0 || colours > PIC_MAX_COLOURS))
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "colour count outside 0 to 256"), nullptr);
  if (picCheckImageSize(width, height, 3) != PIC_OK) return picOpenResult(status, PIC_ERR_DATA, nullptr);
  picFile* file = picNewFile();
  auto* state = picNewState<TiffState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->stream = picBinOpen(fileName, PIC_BIN_WRITE, PIC_LITTLE_ENDIAN);
  if (!state->stream) return release(file, state, status, PIC_ERR_OPEN);
  state->tiff = tiffOpen(fileName, "w", state);
  if (!state->tiff) return release(file, state, status, PIC_ERR_OPEN);
  TIFF* tiff = state->tiff;

  const bool mapped = colourMode == PIC_MAP;
  state->photometric = mapped ? PHOTOMETRIC_PALETTE : PHOTOMETRIC_RGB;
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t(width));
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t(height));
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, mapped ? 1 : 3);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, state->photometric);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, tiffCompression(compression));
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, uint32_t(-1)));
  writeResolution(fileName, tiff);

  picDescribe(file, width, height, colourMode, compression, colours);
  file->mapFirst = 1;
  file->currentLine = height - 1;
  // Map lines are copied too: libtiff may work in the buffer it is given.
  if (!allocateLine(state, mapped ? int64_t(width) : int64_t(width) * 3))
    return release(file, state, status, PIC_ERR_OPEN);
  file->driverData = state;
  return picOpenResult(status, PIC_OK, file);
}

// TIFFClose flushes a written file too, but cannot say that it failed.
int close(picFile* file) {
  TiffState* state = stateOf(file);
  const bool writing = state->stream && state->stream->mode == PIC_BIN_WRITE;
  const bool flushed = !writing || !state->tiff || TIFFFlush(state->tiff);
  if (state->tiff) {
    TIFFClose(state->tiff);  // closes the stream too
    state->tiff = nullptr;
    state->stream = nullptr;
  }
  const int streamClose = state->streamClose;
  release(file, state, nullptr, PIC_OK);
  if (!flushed) return PIC_ERR_WRITE;
  return streamClose;
}

int readMap(picFile* file, int32_t* map) {
  TiffState* state = stateOf(file);
  const int colours = std::min(file->colours, PIC_MAX_COLOURS);
  if (state->photometric == PHOTOMETRIC_MINISWHITE || state->photometric == PHOTOMETRIC_MINISBLACK) {
    greyRamp(colours, state->photometric == PHOTOMETRIC_MINISWHITE, map);
    return PIC_OK;
  }
  // libtiff holds 1 << BitsPerSample entries, as many as `colours`.
  uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
  if (!TIFFGetField(state->tiff, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
    return picRefuse(PIC_ERR_READ, "no colour map");
  // Some writers store 8-bit levels; a map without any value above 255 is one.
  bool eightBit = true;
  for (int i = 0; i < colours; ++i) eightBit = eightBit && (red[i] | green[i] | blue[i]) < 256;
  for (int i = 0; i < colours; ++i) {
    map[i] = eightBit ? picEncodeColour(red[i], green[i], blue[i])
                      : picEncodeColour(mapLevel(red[i]), mapLevel(green[i]), mapLevel(blue[i]));
  }
  return PIC_OK;
}

int writeMap(picFile* file, const int32_t* map) {
  uint16_t red[PIC_MAX_COLOURS] = {}, green[PIC_MAX_COLOURS] = {}, blue[PIC_MAX_COLOURS] = {};
  const int colours = std::min(file->colours, PIC_MAX_COLOURS);
  for (int i = 0; i < colours; ++i) {
    uint8_t r, g, b;
    picDecodeColour(&r, &g, &b, map[i]);
    red[i] = mapComponent(r);
    green[i] = mapComponent(g);
    blue[i] = mapComponent(b);
  }
  return TIFFSetField(stateOf(file)->tiff, TIFFTAG_COLORMAP, red, green, blue) ? PIC_OK : PIC_ERR_WRITE;
}

// The file row of the next line call: file row 0 is the picture's top line.
uint32_t fileRow(const picFile* file) { return uint32_t(file->height - 1 - file->currentLine); }

// Whether LZW strips are decoded here: bits in the usual fill order, and no
// predictor, or horizontal differencing of 8-bit samples.
void chooseStripDecoding(TiffState* state) {
  uint16_t compression = COMPRESSION_NONE, fillOrder = FILLORDER_MSB2LSB, predictor = PREDICTOR_NONE;
  uint16_t bits = 1, samples = 1;
  TIFFGetField(state->tiff, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(state->tiff, TIFFTAG_FILLORDER, &fillOrder);
  long size = 0;
  // libtiff reverses the bits of strips in the other fill order, so those stay with it.
  state->stripsInPlace = compression == COMPRESSION_NONE && fillOrder == FILLORDER_MSB2LSB &&
                         picBinMemoryBytes(state->stream, &size);
  if (compression != COMPRESSION_LZW) return;
  TIFFGetFieldDefaulted(state->tiff, TIFFTAG_PREDICTOR, &predictor);
  TIFFGetFieldDefaulted(state->tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(state->tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  if (fillOrder != FILLORDER_MSB2LSB) return;
  if (predictor == PREDICTOR_HORIZONTAL && bits == 8)
    state->predictorSamples = samples;
  else if (predictor != PREDICTOR_NONE)
    return;
  state->lzwStrips = true;
}

// Undoes horizontal differencing: each sample was stored as its difference
// from the same sample of the pixel before.
void undoPredictor(uint8_t* line, int lineBytes, int samples) {
  for (int i = samples; i < lineBytes; ++i) line[i] = uint8_t(line[i] + line[i - samples]);
}

// Decodes an LZW strip of `wanted` bytes into stripBuffer; the whole lines it
// holds, or -1 for a strip left to libtiff (old bit order, or raw bytes far
// beyond what LZW needs).
int64_t decodeLzwStrip(TiffState* state, uint32_t strip, int64_t wanted) {
  const int64_t fileSize = picBinSize(state->stream);
  const int64_t offset = int64_t(std::min<uint64_t>(TIFFGetStrileOffset(state->tiff, strip), INT64_MAX));
  const int64_t count = int64_t(std::min<uint64_t>(TIFFGetStrileByteCount(state->tiff, strip), INT64_MAX));
  if (fileSize < 0) return -1;
  const int64_t held = offset < fileSize ? std::min(count, fileSize - offset) : 0;  // a cut file holds less
  if (held > wanted * tiffMaxLzwExpansion + tiffLzwRawSlack) return -1;
  if (held > state->rawCapacity) {
    std::free(state->rawStrip);
    state->rawCapacity = 0;
    state->rawStrip = static_cast<uint8_t*>(std::malloc(size_t(held)));
    if (!state->rawStrip) return 0;
    state->rawCapacity = held;
  }
  if (held > 0 && TIFFReadRawStrip(state->tiff, strip, state->rawStrip, tmsize_t(held)) != held) return 0;
  if (tiffLzwIsOldStyle(state->rawStrip, size_t(held))) return -1;
  size_t produced = 0;
  tiffLzwDecode(state->rawStrip, size_t(held), state->stripBuffer, size_t(wanted), &produced);
  const int64_t lines = int64_t(produced) / state->lineSize;
  if (state->predictorSamples > 0) {
    for (int64_t line = 0; line < lines; ++line)
      undoPredictor(state->stripBuffer + line * state->lineSize, state->lineSize, state->predictorSamples);
  }
  return lines;
}

// An uncompressed strip of a memory file where it lies, when the file holds
// all of its `wanted` bytes (else null, and libtiff reads what there is).
const uint8_t* stripInPlace(TiffState* state, uint32_t strip, int64_t wanted) {
  long size = 0;
  const uint8_t* bytes = picBinMemoryBytes(state->stream, &size);
  const uint64_t offset = TIFFGetStrileOffset(state->tiff, strip);
  if (!bytes || TIFFGetStrileByteCount(state->tiff, strip) < uint64_t(wanted) || offset > uint64_t(size) ||
      uint64_t(size) - offset < uint64_t(wanted))
    return nullptr;
  return bytes + offset;
}

// Decodes a strip into stripData; the whole lines it holds.
uint32_t readStrip(TiffState* state, uint32_t strip, uint32_t rows) {
  const tmsize_t wanted = tmsize_t(rows) * state->lineSize;
  state->stripData = state->stripsInPlace ? stripInPlace(state, strip, wanted) : nullptr;
  if (state->stripData) return rows;
  state->stripData = state->stripBuffer;
  if (state->lzwStrips) {
    const int64_t lines = decodeLzwStrip(state, strip, wanted);
    if (lines >= 0) return uint32_t(lines);
  }
  return TIFFReadEncodedStrip(state->tiff, strip, state->stripBuffer, wanted) == wanted ? rows : 0;
}

// Sets up reading by whole strips when every strip but the last holds
// rowsPerStrip lines of one scanline each and fits tiffMaxStripBuffer; the
// buffer comes only now, once a line is asked for.
void chooseStrips(picFile* file, TiffState* state) {
  state->stripsChecked = true;
  state->bufferedStrip = -1;
  uint32_t rows = 0;
  if (!TIFFGetFieldDefaulted(state->tiff, TIFFTAG_ROWSPERSTRIP, &rows) || rows == 0) return;
  rows = std::min(rows, uint32_t(file->height));
  const int64_t scanline = int64_t(TIFFScanlineSize64(state->tiff));
  const int64_t stripBytes = int64_t(rows) * scanline;
  const int64_t strips = (int64_t(file->height) + rows - 1) / rows;
  if (scanline != state->lineSize || stripBytes > tiffMaxStripBuffer ||
      int64_t(TIFFVStripSize64(state->tiff, rows)) != stripBytes ||
      int64_t(TIFFNumberOfStrips(state->tiff)) != strips)
    return;
  state->stripBuffer = static_cast<uint8_t*>(std::malloc(size_t(stripBytes)));
  // Scanlines instead would decode some damaged files differently, so this is an error.
  state->stripBufferMissing = !state->stripBuffer;
  state->rowsPerStrip = rows;
  chooseStripDecoding(state);
}

// The next line as libtiff decodes it, from the buffered strip or
// TIFFReadScanline; null on a read error.
const uint8_t* readScanline(picFile* file) {
  TiffState* state = stateOf(file);
  if (!state->lineBuffer || file->currentLine < 0 || file->currentLine >= file->height) return nullptr;
  if (!state->stripsChecked) chooseStrips(file, state);
  if (state->stripBufferMissing) return nullptr;
  const uint32_t row = fileRow(file);
  if (!state->stripBuffer) {
    if (TIFFReadScanline(state->tiff, state->lineBuffer, row, 0) > 0) return state->lineBuffer;
    picRefuse(PIC_ERR_READ, "line data cut or damaged");
    return nullptr;
  }
  const uint32_t strip = row / state->rowsPerStrip;
  if (strip != state->bufferedStrip) {
    const uint32_t rows = std::min(state->rowsPerStrip, uint32_t(file->height) - strip * state->rowsPerStrip);
    state->bufferedLines = readStrip(state, strip, rows);
    state->bufferedStrip = strip;
  }
  const uint32_t lineInStrip = row - strip * state->rowsPerStrip;
  if (lineInStrip >= state->bufferedLines) {
    picRefuse(PIC_ERR_READ, "strip data cut or damaged");
    return nullptr;
  }
  return state->stripData + size_t(lineInStrip) * size_t(state->lineSize);
}

int readLine(picFile* file, uint8_t* line) {
  const uint8_t* stored = file->colourMode == PIC_MAP ? readScanline(file) : nullptr;
  if (!stored) return PIC_ERR_READ;
  picUnpackIndices(stored, file->colours == 2 ? 1 : file->colours == 16 ? 4 : 8, file->width, false, line);
  --file->currentLine;
  return PIC_OK;
}

// Writes the buffered line; after the last one the file is completed here,
// since a failure at close could not be reported.
int writeScanline(picFile* file) {
  TiffState* state = stateOf(file);
  if (file->currentLine < 0 || file->currentLine >= file->height) return PIC_ERR_WRITE;
  if (TIFFWriteScanline(state->tiff, state->lineBuffer, fileRow(file), 0) < 0) return PIC_ERR_WRITE;
  if (file->currentLine == 0 && !TIFFFlush(state->tiff)) return PIC_ERR_WRITE;
  --file->currentLine;
  return PIC_OK;
}

int writeLine(picFile* file, const uint8_t* line) {
  if (file->colourMode != PIC_MAP) return PIC_ERR_WRITE;
  std::memcpy(stateOf(file)->lineBuffer, line, size_t(file->width));
  return writeScanline(file);
}

int readRGBLine(picFile* file, uint8_t* red, uint8_t* green, uint8_t* blue) {
  const uint8_t* stored = file->colourMode == PIC_RGB ? readScanline(file) : nullptr;
  if (!stored) return PIC_ERR_READ;
  picSplitPixels(stored, 3, file->width, red, green, blue);
  --file->currentLine;
  return PIC_OK;
}

int writeRGBLine(picFile* file, const uint8_t* red, const uint8_t* green, const uint8_t* blue) {
  if (file->colourMode != PIC_RGB) return PIC_ERR_WRITE;
  picPackPixels(red, green, blue, file->width, stateOf(file)->lineBuffer);
  return writeScanline(file);
}

int control(void*, int) { return 0; }

picDriver driver = {PIC_DRIVER_TIFF, control, openRead,  openWrite,   close,       readMap,
                    writeMap, readLine, writeLine, readRGBLine, writeRGBLine};

}  // namespace

picDriver* picTiffDriver(void) { return &driver; }

namespace {

// A little-endian file of one uncompressed 8-bit grey strip claiming width x
// height, whose data ends after four bytes: nine directory entries, then the pixels.
std::vector<uint8_t> minimalHeader(int width, int height) {
  const int entries = 9, directory = 8, dataOffset = directory + 2 + 12 * entries + 4;
  const uint32_t pixels = int64_t(width) * height > 0xffffffffLL ? 0xffffffffu : uint32_t(width) * uint32_t(height);
  const uint32_t fields[entries][3] = {  // tag, type (3 short, 4 long), value
      {TIFFTAG_IMAGEWIDTH, 4, uint32_t(width)}, {TIFFTAG_IMAGELENGTH, 4, uint32_t(height)},
      {TIFFTAG_BITSPERSAMPLE, 3, 8},           {TIFFTAG_COMPRESSION, 3, COMPRESSION_NONE},
      {TIFFTAG_PHOTOMETRIC, 3, PHOTOMETRIC_MINISBLACK}, {TIFFTAG_STRIPOFFSETS, 4, uint32_t(dataOffset)},
      {TIFFTAG_SAMPLESPERPIXEL, 3, 1},         {TIFFTAG_ROWSPERSTRIP, 4, uint32_t(height)},
      {TIFFTAG_STRIPBYTECOUNTS, 4, pixels}};
  std::vector<uint8_t> bytes(size_t(dataOffset) + 4, 0);  // the next directory's offset stays 0
  std::memcpy(bytes.data(), tiffMagics[0], 4);
  picPutLE32(&bytes[4], directory);
  picPutLE16(&bytes[directory], entries);
  for (int i = 0; i < entries; ++i) {
    uint8_t* entry = &bytes[size_t(directory + 2 + 12 * i)];
    picPutLE16(entry, fields[i][0]);
    picPutLE16(entry + 2, fields[i][1]);
    picPutLE32(entry + 4, 1);  // one value, held in the entry (a short in its first half)
    picPutLE32(entry + 8, fields[i][2]);
  }
  bytes[dataOffset] = bytes[dataOffset + 2] = 0x81;  // four pixels (as PackBits, two runs of 128)
  return bytes;
}

}  // namespace

extern const picFormatInfo picTiffFormat = {
    "tiff", ".tif .tiff", picTiffDriver, true, true, picMapWriter::keeps,
    {{"lzw", PIC_COMP_LZW, "LZW", false}, {"rle", PIC_COMP_RLE, "PackBits", false},
     {"none", PIC_COMP_NONE, "uncompressed", false}},
    minimalHeader};
