// TIFF through libtiff. Reads the first image of a file whose samples are
// unsigned integers of 1 to 16 bits, in strips or tiles, contiguous or in
// separate planes, with any compression libtiff decodes (YCbCr JPEG is
// converted to RGB by libtiff's JPEG codec): palettes of 1, 2, 4 or 8 bits and
// grey of 1, 2, 4 or 8 bits (a ramp) as colour-mapped images; wider grey, grey
// with alpha or other extra samples, and every RGB file as true colour.
// Samples wider than 8 bits are rounded to 8 (picScaleSample, as PNG and PNM
// round them); alpha and other extra samples are dropped, not composited
// (libtiff's RGBA reader would premultiply unassociated alpha), and colour
// stored premultiplied by an associated alpha is divided by it. Writes 8-bit
// palette and 8-bit RGB images, uncompressed, PackBits or LZW, handing libtiff
// a strip at a time. Refuses floating-point or signed samples, samples wider
// than 16 bits, more than 16 samples a pixel, palettes with extra samples,
// other colour spaces (CMYK, L*a*b*, LogLuv, YCbCr other than in contiguous
// JPEG) and old-style JPEG; broken fax data ends in a read error.
// libtiff reads and writes through the picture library's file layer
// (tiff_client.cpp). Contiguous strips are read a strip at a time, in place or
// by the driver's own LZW decoder where it can (tiff_strips.cpp); tiles and
// separate planes a band at a time (tiff_blocks.cpp); samples become lines in
// tiff_samples.cpp. A file whose first directory lies past its end is cut:
// PIC_ERR_READ, not unrecognised.
// Memory: libtiff's directory and strip or tile buffers, which it sizes from
// the byte counts and reads in growing pieces (so a strip the file does not
// hold is not allocated whole); no block above 1 GB. Contiguous strips: one
// stored line, and a decoded strip of at most 4 MB (LZW strips decoded here
// also take their raw bytes, no more than the file holds and a few times the
// strip). Tiles and separate planes: one band, a row of tiles or a strip of
// each plane read, at most 256 MB; a tile reaching past the picture may hold
// at most 16 MB. A stored pixel is at most 32 bytes (16 samples of 16 bits).
// Writing: one strip of packed lines (about 8 KB, or one line).
#include <tiffio.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "picture/core/driver_support.h"
#include "picture/core/format_info.h"
#include "picture/formats/tiff_blocks.h"
#include "picture/formats/tiff_client.h"
#include "picture/formats/tiff_samples.h"
#include "picture/formats/tiff_strips.h"

namespace {

// Samples a pixel, at most: RGB, alpha and a dozen more extra samples.
const int tiffMaxSamples = 16;

struct TiffState {
  TiffStream io;  // libtiff's client handle: the stream and what its close answered
  TIFF* tiff;
  uint16_t photometric;
  TiffSampleLayout samples;  // reading: how stored samples become lines
  bool byBlocks;             // reading tiles or separate planes, a band at a time
  TiffBlocks blocks;
  TiffStrips strips;    // reading contiguous strips
  int lineSize;         // bytes of one stored line
  uint8_t* lineBuffer;  // reading: one stored line; writing: a strip of packed lines
  uint32_t rowsPerStrip;  // writing
  uintptr_t lastRed;      // writing true colour: where the last line's planes began,
  uintptr_t lineStep;     // and how far the caller moved from the one before
};

TiffState* stateOf(picFile* file) { return static_cast<TiffState*>(file->driverData); }

// The directory fields the driver reads.
struct TiffFields {
  uint32_t width, height;
  uint16_t bits, samples, photometric, sampleFormat, planarConfig, compression;
  int associatedAlpha;  // the sample of the first associated (premultiplied) alpha, -1 for none
};

// What the driver makes of a file's sample layout.
struct TiffLayout {
  int colourMode;
  int colours;
  TiffSampleLayout samples;
};

bool isGrey(uint16_t photometric) {
  return photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
}
bool isIndexDepth(uint16_t bits) { return bits == 1 || bits == 2 || bits == 4 || bits == 8; }

// Why a layout is not read (the caller reports PIC_ERR_DATA), or null with
// *layout set.
const char* classifyLayout(const TiffFields& fields, TiffLayout* layout) {
  if (fields.sampleFormat == SAMPLEFORMAT_IEEEFP) return "floating-point samples";
  if (fields.sampleFormat != SAMPLEFORMAT_UINT) return "samples not unsigned integers";
  if (fields.compression == COMPRESSION_OJPEG) return "old-style JPEG";
  const bool grey = isGrey(fields.photometric), palette = fields.photometric == PHOTOMETRIC_PALETTE;
  const bool rgb = fields.photometric == PHOTOMETRIC_RGB;
  if (fields.photometric == PHOTOMETRIC_YCBCR) return "YCbCr other than in contiguous JPEG";
  if (!grey && !palette && !rgb) return "colour space other than grey, palette or RGB";
  if (fields.bits == 0 || fields.bits > 16) return "samples wider than 16 bits";
  if (fields.samples > tiffMaxSamples) return "more than 16 samples a pixel";
  if (rgb && fields.samples < 3) return "samples that do not fit the colour space";
  if (palette && fields.samples != 1) return "extra samples beside a palette";
  if (palette && !isIndexDepth(fields.bits)) return "palette depth other than 1, 2, 4 or 8 bits";
  const bool separate = fields.planarConfig == PLANARCONFIG_SEPARATE && fields.samples > 1;
  const bool mapped = fields.samples == 1 && isIndexDepth(fields.bits);  // grey or palette
  const int alpha = fields.associatedAlpha >= (grey ? 1 : 3) ? fields.associatedAlpha : -1;  // beyond the colours
  *layout = {mapped ? PIC_MAP : PIC_RGB, mapped ? 1 << fields.bits : 0,
             {fields.bits, separate ? 1 : fields.samples, grey, fields.photometric == PHOTOMETRIC_MINISWHITE,
              separate, alpha}};
  return nullptr;
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

// Releases what an open made, in one place for every path.
picFile* release(picFile* file, TiffState* state, int* status, int code) {
  if (state) {
    if (state->tiff)
      TIFFClose(state->tiff);  // closes the stream too
    else if (state->io.stream)
      picBinClose(state->io.stream);
    std::free(state->lineBuffer);
    tiffReleaseStrips(&state->strips);
  }
  picDeleteState(state);
  picFreeFile(file);
  return picOpenResult(status, code, nullptr);
}

// Allocates the line buffer: `lines` lines of `lineSize` bytes.
bool allocateLines(TiffState* state, int64_t lineSize, int64_t lines) {
  if (lineSize <= 0 || lineSize > INT_MAX || lines <= 0 || lines > INT_MAX / lineSize) return false;
  state->lineBuffer = static_cast<uint8_t*>(std::malloc(size_t(lineSize * lines)));
  state->lineSize = int(lineSize);
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
  state->io.stream = picBinOpen(fileName, PIC_BIN_READ, PIC_LITTLE_ENDIAN);
  if (!state->io.stream || !tiffHasMagic(state->io.stream)) return release(file, state, status, PIC_ERR_FORMAT);
  state->tiff = tiffClientOpen(fileName, "r", &state->io);
  if (!state->tiff)
    return release(file, state, status,
                   tiffFirstDirectoryPastEnd(state->io.stream)
                       ? picRefuse(PIC_ERR_READ, "first directory past the end")
                       : picRefuse(PIC_ERR_FORMAT, "unreadable first directory"));
  TIFF* tiff = state->tiff;

  TiffFields fields = {0, 0, 1, 1, 0, SAMPLEFORMAT_UINT, PLANARCONFIG_CONTIG, COMPRESSION_NONE, -1};
  TIFFGetField(tiff, TIFFTAG_COMPRESSION, &fields.compression);
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &fields.width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &fields.height);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &fields.bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &fields.samples);
  if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &fields.photometric))
    fields.photometric = defaultPhotometric(fields.samples);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &fields.sampleFormat);
  TIFFGetField(tiff, TIFFTAG_PLANARCONFIG, &fields.planarConfig);
  // Extra samples are a pixel's last ones (libtiff holds no more than there are samples).
  uint16_t extraCount = 0, *extraKinds = nullptr;
  if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extraKinds) && extraKinds) {
    for (int k = 0; k < extraCount && fields.associatedAlpha < 0; ++k)
      if (extraKinds[k] == EXTRASAMPLE_ASSOCALPHA) fields.associatedAlpha = fields.samples - extraCount + k;
  }
  // libtiff's JPEG codec turns YCbCr into RGB itself (and sizes strips and tiles so).
  if (fields.compression == COMPRESSION_JPEG && fields.photometric == PHOTOMETRIC_YCBCR &&
      fields.planarConfig == PLANARCONFIG_CONTIG && TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB))
    fields.photometric = PHOTOMETRIC_RGB;
  state->photometric = fields.photometric;
  reportResolution(fileName, tiff);

  TiffLayout layout = {fields.samples >= 3 ? PIC_RGB : PIC_MAP, 0, {}};
  const char* unsupported = classifyLayout(fields, &layout);
  if (unsupported && layout.colourMode == PIC_MAP) layout.colours = fields.bits < 8 ? 1 << fields.bits : 256;
  const uint32_t width = fields.width, height = fields.height;
  picDescribe(file, int(std::min<uint32_t>(width, INT_MAX)), int(std::min<uint32_t>(height, INT_MAX)),
              layout.colourMode, compressionCode(fields.compression), layout.colours);
  file->mapFirst = 1;
  file->currentLine = file->height - 1;
  file->driverData = state;

  if (unsupported) return picOpenResult(status, picRefuse(PIC_ERR_DATA, unsupported), file);
  const int64_t storedPixelBits = int64_t(fields.bits) * fields.samples;  // at most 32 bytes
  if (picCheckReadSize(width, height, std::max<int64_t>(3, (storedPixelBits + 7) / 8)) != PIC_OK)
    return picOpenResult(status, PIC_ERR_DATA, file);
  if (!TIFFIsCODECConfigured(fields.compression))
    return picOpenResult(status, picRefuse(PIC_ERR_COMPRESSION, "unknown compression"), file);
  state->samples = layout.samples;
  state->byBlocks = TIFFIsTiled(tiff) || layout.samples.separatePlanes;
  if (state->byBlocks) {
    const TiffSampleLayout& samples = layout.samples;
    const int planes = !samples.separatePlanes ? 1 : samples.alphaSample >= 0 ? samples.alphaSample + 1
                                                                              : samples.grey ? 1 : 3;
    const char* refused = state->blocks.plan(tiff, width, height, planes);
    return picOpenResult(status, refused ? picRefuse(PIC_ERR_DATA, refused) : PIC_OK, file);
  }
  // Never smaller than what libtiff delivers.
  const int64_t lineSize = std::max((int64_t(width) * storedPixelBits + 7) / 8, int64_t(TIFFScanlineSize64(tiff)));
  if (!allocateLines(state, lineSize, 1)) return release(file, state, status, PIC_ERR_OPEN);
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
  state->io.stream = picBinOpen(fileName, PIC_BIN_WRITE, PIC_LITTLE_ENDIAN);
  if (!state->io.stream) return release(file, state, status, PIC_ERR_OPEN);
  state->tiff = tiffClientOpen(fileName, "w", &state->io);
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
  // About 8 KB a strip (at least one line): libtiff's own choice.
  state->rowsPerStrip = std::max<uint32_t>(1, TIFFDefaultStripSize(tiff, uint32_t(-1)));
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, state->rowsPerStrip);
  writeResolution(fileName, tiff);

  picDescribe(file, width, height, colourMode, compression, colours);
  file->mapFirst = 1;
  file->currentLine = height - 1;
  // Map lines are copied too: libtiff may work in the buffer it is given.
  const int64_t lineSize = mapped ? int64_t(width) : int64_t(width) * 3;
  if (!allocateLines(state, lineSize, std::min<int64_t>(state->rowsPerStrip, height)))
    return release(file, state, status, PIC_ERR_OPEN);
  file->driverData = state;
  return picOpenResult(status, PIC_OK, file);
}

// TIFFClose flushes a written file too, but cannot say that it failed.
int close(picFile* file) {
  TiffState* state = stateOf(file);
  const bool writing = state->io.stream && state->io.stream->mode == PIC_BIN_WRITE;
  const bool flushed = !writing || !state->tiff || TIFFFlush(state->tiff);
  if (state->tiff) {
    TIFFClose(state->tiff);  // closes the stream too
    state->tiff = nullptr;
    state->io.stream = nullptr;
  }
  const int streamClose = state->io.closeStatus;
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

// Reads the next line: hands `convert(lines, x, width)` each stretch of it
// (the stored line whole, or the rows of each block across, one per plane
// read) and moves on; false at a read error.
template <typename Convert>
bool readStretches(picFile* file, Convert convert) {
  TiffState* state = stateOf(file);
  if (file->currentLine < 0 || file->currentLine >= file->height) return false;
  const uint32_t row = fileRow(file);
  if (!state->byBlocks) {
    const uint8_t* stored = state->lineBuffer ? tiffStripLine(state->tiff, state->io.stream, row, uint32_t(file->height),
                                                             state->lineBuffer, state->lineSize, &state->strips)
                                              : nullptr;
    if (!stored) return false;
    convert(&stored, 0, file->width);
  } else {
    TiffBlocks& blocks = state->blocks;
    if (!blocks.hold(row)) return false;
    const uint8_t* lines[tiffMaxSamples] = {};
    for (uint32_t block = 0; block < blocks.across(); ++block) {
      const int x = int(block * blocks.blockWidth());
      for (int plane = 0; plane < blocks.planes(); ++plane) lines[plane] = blocks.row(block, plane, row);
      convert(lines, x, std::min(int(blocks.blockWidth()), file->width - x));
    }
  }
  --file->currentLine;
  return true;
}

int readLine(picFile* file, uint8_t* line) {
  const int bits = stateOf(file)->samples.bits;
  const bool read = file->colourMode == PIC_MAP &&
                    readStretches(file, [&](const uint8_t* const* lines, int x, int width) {
                      picUnpackIndices(lines[0], bits, width, false, line + x);
                    });
  return read ? PIC_OK : PIC_ERR_READ;
}

int readRGBLine(picFile* file, uint8_t* red, uint8_t* green, uint8_t* blue) {
  const TiffSampleLayout& layout = stateOf(file)->samples;
  const bool read = file->colourMode == PIC_RGB &&
                    readStretches(file, [&](const uint8_t* const* lines, int x, int width) {
                      tiffTrueColourLine(lines, layout, width, red + x, green + x, blue + x);
                    });
  return read ? PIC_OK : PIC_ERR_READ;
}

// Where the next written line goes: its place in the strip being gathered.
uint8_t* lineSlot(picFile* file) {
  TiffState* state = stateOf(file);
  return state->lineBuffer + size_t(fileRow(file) % state->rowsPerStrip) * size_t(state->lineSize);
}

// Takes the line just put in its slot: a strip complete (or cut short by the
// last line) goes to libtiff whole. After the last line the file is completed
// here, since a failure at close could not be reported.
int finishLine(picFile* file) {
  TiffState* state = stateOf(file);
  const uint32_t row = fileRow(file), inStrip = row % state->rowsPerStrip;
  const bool last = row + 1 == uint32_t(file->height);
  if (inStrip + 1 == state->rowsPerStrip || last) {
    const tmsize_t bytes = tmsize_t(inStrip + 1) * state->lineSize;
    if (TIFFWriteEncodedStrip(state->tiff, row / state->rowsPerStrip, state->lineBuffer, bytes) != bytes)
      return PIC_ERR_WRITE;
  }
  if (last && !TIFFFlush(state->tiff)) return PIC_ERR_WRITE;
  --file->currentLine;
  return PIC_OK;
}

bool writable(const picFile* file, int colourMode) {
  return file->colourMode == colourMode && file->currentLine >= 0 && file->currentLine < file->height;
}

int writeLine(picFile* file, const uint8_t* line) {
  if (!writable(file, PIC_MAP)) return PIC_ERR_WRITE;
  std::memcpy(lineSlot(file), line, size_t(file->width));
  return finishLine(file);
}

// Pixels packed at a time when writing true colour: the same stretch of the
// caller's line two lines on is fetched ahead meanwhile.
const int tiffPackStretch = 1024;
const int tiffLinesAhead = 2;

// Packs a true-colour line into its slot. The caller's planes usually come a
// line back each call (their rows run bottom up, the file's top down), which
// the processor does not fetch ahead by itself: before each stretch, the same
// stretch of the line two steps on is asked for (the next line's is already on
// its way), marked as read once, since the planes are not read again. A
// prefetch never faults, wherever that is.
void packLine(TiffState* state, const uint8_t* red, const uint8_t* green, const uint8_t* blue, int width,
              uint8_t* slot) {
  const auto here = reinterpret_cast<uintptr_t>(red);
  const auto step = uintptr_t(here - state->lastRed);
  const bool steady = step == state->lineStep;
  state->lineStep = step;
  state->lastRed = here;
  const uintptr_t ahead = step * tiffLinesAhead;
  for (int x = 0; x < width; x += tiffPackStretch) {
    const int count = std::min(tiffPackStretch, width - x);
    for (int i = 0; steady && i < count; i += 64) {
      for (const uint8_t* plane : {red, green, blue})
        __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(plane + x + i) + ahead), 0, 0);
    }
    picPackPixels(red + x, green + x, blue + x, count, slot + 3 * size_t(x));
  }
}

int writeRGBLine(picFile* file, const uint8_t* red, const uint8_t* green, const uint8_t* blue) {
  if (!writable(file, PIC_RGB)) return PIC_ERR_WRITE;
  packLine(stateOf(file), red, green, blue, file->width, lineSlot(file));
  return finishLine(file);
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
