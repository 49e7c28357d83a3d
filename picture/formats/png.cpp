// PNG files through libpng, on the binary file layer (so from and to memory as
// well). Reads every colour type and depth: palette (1 to 8 bits) and grey of
// 8 bits or fewer as index lines with the palette or a grey ramp (a palette
// shorter than its depth addresses is described with 2^depth colours, the
// entries past it black); grey of 16 bits, grey with alpha, RGB and RGBA as
// red, green and blue lines; 16-bit samples reduced to 8 with rounding;
// interlaced files too. Alpha (an alpha channel, or a tRNS chunk) is dropped,
// not composited: the library has no alpha, and the stored colours are the
// picture's own, which is what Pillow's convert("RGB") and ImageMagick give
// for an opaque result, so both can judge our decodes; compositing over black
// would darken whatever is partly transparent, a choice no reader of the file
// could guess. Writes 8-bit RGB from true colour and 8-bit palette files from
// colour-mapped images through our own encoder (png_encoder.cpp): rows
// filtered as libpng's default writer filters them, deflated by libdeflate
// (PIC_COMP_NONE stores the rows unfiltered in stored deflate blocks);
// refuses PIC_COMP_LZW.
// The resolution travels through the callback: read from pHYs (pixels per
// metre as PIC_RES_CM, the unknown unit as PIC_RES_NONE with its aspect
// values), written as pHYs when the callback names a unit. Every other
// ancillary chunk (text, profiles, suggested palettes, unknown chunks...) is
// skipped unread, whatever length it claims.
//
// libpng (the reader) reports errors by jumping out of its own frames, so every call into
// it sits in a plain function (guarded*) that sets the recovery point first and
// holds no object with a destructor; the state is a plain record for the same
// reason. libpng prints nothing: its error and warning routines are ours.
// Sizes are checked from the IHDR chunk before libpng is set up: a file can
// only hold an image its deflate data can expand to, so a small file cannot
// claim a huge one (it is described, and its load fails with PIC_ERR_READ as a
// cut file's does), and libpng's own user limits guard the same ground.
// Memory: the input window (a memory file in place, else a
// 64 KB block), libpng's state and one line; an interlaced
// image is held whole, a byte a pixel for indices and three for true colour:
// at most three times the pixel limit (384 MB at the default), and no more
// than its deflate data could expand to (1032 bytes for each byte of the file).
// A save holds one line and the encoder's memory: the filtered image and
// libdeflate's output for it up to 128 MB of filtered rows (under 260 MB in
// all), past that a 1 MB band and zlib's streaming state (about 2.5 MB).
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <png.h>

#include "picture/core/driver_support.h"
#include "picture/core/extra_drivers.h"
#include "picture/core/format_info.h"
#include "picture/formats/png_encoder.h"

namespace {

const uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
const int pngIhdrEnd = 33;  // signature, IHDR length and type, 13 data bytes, CRC
const int pngFirstRead = 4096;
const int pngChunk = 64 << 10;
const uint32_t pngMaxSide = 1u << 20;
// Deflate expands a byte into at most 1032: data beyond that is not in the file.
const int64_t pngMaxDeflateRatio = 1032;
const png_alloc_size_t pngMaxChunkBytes = 8u << 20;
const png_uint_32 pngMaxCachedChunks = 256;
// libpng only warns of an ancillary chunk longer than the chunk limit, and
// would allocate for a text, profile or suggested-palette chunk claiming 2 GB;
// chunks it is told never to keep it passes over unread instead.
const png_byte pngUnusedChunk[] = "tRNS";  // alpha is dropped, see above
const png_byte pngUsedChunk[] = "pHYs";
const double pngCentimetresPerMetre = 100.0;
const double pngInchesPerMetre = 100.0 / 2.54;
const double pngMaxPixelsPerUnit = 2147483647.0;  // pHYs fields are 31-bit
// libpng takes image data from the file in pieces of this size; a file cut
// short loses the lines of the piece it ends in, so pieces are kept small.
const size_t pngDataPiece = 1024;

// What the IHDR chunk says, read before libpng is involved.
struct PngHeader {
  uint32_t width, height;
  int depth, colourType, interlace;
};

// A plain record: libpng jumps across it, so nothing in it has a destructor
// (the input window is held by pointer, on the heap).
struct PngState {
  png_structp png;
  png_infop info;
  jmp_buf recoveryPoint;
  picBinFile* stream;
  bool writing;
  // Reading: the file through the window, and the decoded lines.
  picInputWindow* input;
  int channels;        // of a decoded pixel: 1 (index) or 3
  bool interlaced;
  size_t lineBytes;    // of a decoded line
  uint8_t* lines;      // one line, or the whole image when interlaced
  png_bytepp rowPointers;
  int linesRead;
  bool broken;  // a libpng step failed: its reader cannot go on
  int32_t map[PIC_MAX_COLOURS];
  // Writing.
  PngEncoder* encoder;
  uint8_t* line;
};

PngState* stateOf(picFile* file) { return static_cast<PngState*>(file->driverData); }

// ---- libpng's error and input/output routines.

[[noreturn]] void errorExit(png_structp png, png_const_charp) {
  longjmp(static_cast<PngState*>(png_get_error_ptr(png))->recoveryPoint, 1);
}

void ignoreWarning(png_structp, png_const_charp) {}

// A read error ends the data as its end does.
void readData(png_structp png, png_bytep target, size_t length) {
  auto* state = static_cast<PngState*>(png_get_io_ptr(png));
  while (length > 0) {
    const int piece = length < size_t(pngChunk) ? int(length) : pngChunk;
    if (!state->input->read(target, piece)) png_error(png, "file ends early");
    target += piece;
    length -= size_t(piece);
  }
}

// The encoder's sink.
bool writeToStream(void* stream, const uint8_t* bytes, size_t length) {
  auto* binFile = static_cast<picBinFile*>(stream);
  return length <= size_t(INT32_MAX) && picBinWrite(binFile, bytes, int(length)) == int(length) &&
         !picBinError(binFile);
}

// ---- Pure helpers on memory.

// PIC_ERR_FORMAT unless the bytes start with the signature, PIC_ERR_READ when
// they end before the IHDR chunk does, PIC_ERR_DATA for an IHDR libpng would
// refuse.
int decodeHeader(const uint8_t* bytes, int length, PngHeader* header) {
  if (length <= 0 || std::memcmp(bytes, pngSignature, size_t(length < 8 ? length : 8)) != 0) return PIC_ERR_FORMAT;
  if (length < pngIhdrEnd) return picRefuse(PIC_ERR_READ, "file ends inside the header");
  if (picGetBE32(bytes + 8) != 13 || std::memcmp(bytes + 12, "IHDR", 4) != 0)
    return picRefuse(PIC_ERR_DATA, "first chunk not a 13-byte IHDR");
  *header = {picGetBE32(bytes + 16), picGetBE32(bytes + 20), bytes[24], bytes[25], bytes[28]};
  const int depth = header->depth;
  const char* const badDepth = "bit depth not allowed for the colour type";
  switch (header->colourType) {
    case PNG_COLOR_TYPE_GRAY:
      if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16) return picRefuse(PIC_ERR_DATA, badDepth);
      break;
    case PNG_COLOR_TYPE_PALETTE:
      if (depth != 1 && depth != 2 && depth != 4 && depth != 8) return picRefuse(PIC_ERR_DATA, badDepth);
      break;
    case PNG_COLOR_TYPE_RGB:
    case PNG_COLOR_TYPE_GRAY_ALPHA:
    case PNG_COLOR_TYPE_RGB_ALPHA:
      if (depth != 8 && depth != 16) return picRefuse(PIC_ERR_DATA, badDepth);
      break;
    default: return picRefuse(PIC_ERR_DATA, "unknown colour type");
  }
  return header->interlace > 1 ? picRefuse(PIC_ERR_DATA, "unknown interlace method") : PIC_OK;
}

// A pHYs field from a resolution in the callback's unit: rounded, held to
// the 31 bits the field allows.
uint32_t pixelsPerMetre(double resolution, int unit) {
  const double perMetre = resolution * (unit == PIC_RES_INCH ? pngInchesPerMetre : pngCentimetresPerMetre);
  if (!(perMetre > 0.0)) return 0;
  return perMetre >= pngMaxPixelsPerUnit ? uint32_t(pngMaxPixelsPerUnit) : uint32_t(perMetre + 0.5);
}

int samplesPerPixel(int colourType) {
  switch (colourType) {
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1;
  }
}

bool readsAsMap(const PngHeader& header) {
  return header.colourType == PNG_COLOR_TYPE_PALETTE ||
         (header.colourType == PNG_COLOR_TYPE_GRAY && header.depth <= 8);
}

// PIC_ERR_DATA for an image too large to load; PIC_ERR_READ for one larger
// than the file's deflate data can hold (each line is stored with a filter
// byte before it): the data ends early.
int checkSizes(const PngHeader& header, int64_t fileSize) {
  if (header.width == 0 || header.height == 0) return picRefuse(PIC_ERR_DATA, "a side of no pixels");
  if (header.width > pngMaxSide || header.height > pngMaxSide) return picRefuse(PIC_ERR_DATA, "a side over 2^20 pixels");
  if (picCheckReadSize(header.width, header.height, 8) != PIC_OK) return PIC_ERR_DATA;
  const int64_t bits = int64_t(header.width) * header.depth * samplesPerPixel(header.colourType);
  const int64_t stored = int64_t(header.height) * (1 + (bits + 7) / 8);
  if (stored > fileSize * pngMaxDeflateRatio) return picRefuse(PIC_ERR_READ, "file too short for its picture");
  return PIC_OK;
}

// ---- Guarded libpng steps: plain frames only (see the file comment).

// Creates the reader, reads the chunks up to the image data and sets the
// transformations; the output is one byte an index or three bytes a pixel.
bool guardedReadInfo(PngState* state, const PngHeader* header) {
  if (setjmp(state->recoveryPoint)) return false;
  state->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, state, errorExit, ignoreWarning);
  if (!state->png) return false;
  state->info = png_create_info_struct(state->png);
  if (!state->info) return false;
  png_set_read_fn(state->png, state, readData);
  png_set_user_limits(state->png, pngMaxSide, pngMaxSide);
  png_set_chunk_malloc_max(state->png, pngMaxChunkBytes);
  png_set_chunk_cache_max(state->png, pngMaxCachedChunks);
  png_set_compression_buffer_size(state->png, pngDataPiece);
  // Never keep an unknown chunk nor any ancillary one libpng knows (its own
  // list: tEXt, zTXt, iTXt, sPLT, pCAL, sCAL, eXIf, iCCP and the rest), nor
  // tRNS; then pHYs is read again as usual.
  png_set_keep_unknown_chunks(state->png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_set_keep_unknown_chunks(state->png, PNG_HANDLE_CHUNK_NEVER, pngUnusedChunk, 1);
  png_set_keep_unknown_chunks(state->png, PNG_HANDLE_CHUNK_AS_DEFAULT, pngUsedChunk, 1);
  png_read_info(state->png, state->info);

  if (header->depth < 8) png_set_packing(state->png);  // a byte an index, values kept
  if (header->depth == 16) png_set_scale_16(state->png);  // rounded: (v * 255 + 32895) >> 16
  if (header->colourType & PNG_COLOR_MASK_ALPHA) png_set_strip_alpha(state->png);
  if (!readsAsMap(*header) && !(header->colourType & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(state->png);
  state->interlaced = png_set_interlace_handling(state->png) > 1;
  png_read_update_info(state->png, state->info);
  state->lineBytes = png_get_rowbytes(state->png, state->info);
  return true;
}

// Reads a line; after the last one, the chunks up to the end, so that a file
// cut short anywhere is reported.
bool guardedReadLine(PngState* state, png_bytep line, bool last) {
  if (setjmp(state->recoveryPoint)) return false;
  png_read_row(state->png, line, nullptr);
  if (last) png_read_end(state->png, nullptr);
  return true;
}

bool guardedReadImage(PngState* state) {
  if (setjmp(state->recoveryPoint)) return false;
  png_read_image(state->png, state->rowPointers);
  png_read_end(state->png, nullptr);
  return true;
}

// ---- Operations.

// Releases what an open made, in one place for every path. Destroying a
// libpng object never fails, and a null one is a no-op.
picFile* release(picFile* file, PngState* state, int* status, int code) {
  if (state) {
    delete state->encoder;
    if (state->png) png_destroy_read_struct(&state->png, &state->info, nullptr);
    delete state->input;
    if (state->stream) picBinClose(state->stream);
    std::free(state->lines);
    std::free(state->rowPointers);
    std::free(state->line);
    picDeleteState(state);
  }
  picFreeFile(file);
  return picOpenResult(status, code, nullptr);
}


// The palette, black up to 2^depth when it is shorter, or a grey ramp of
// 2^depth levels; returns the colour count.
int buildMap(PngState* state, const PngHeader& header) {
  if (header.colourType == PNG_COLOR_TYPE_PALETTE) {
    png_colorp palette = nullptr;
    int entries = 0;
    if (!png_get_PLTE(state->png, state->info, &palette, &entries) || entries < 1 || entries > PIC_MAX_COLOURS)
      return 0;
    for (int i = 0; i < entries; ++i) state->map[i] = picEncodeColour(palette[i].red, palette[i].green, palette[i].blue);
    const int colours = picColoursForIndices(entries, header.depth);
    picFillMissingColours(state->map, entries, colours);
    return colours;
  }
  const int colours = 1 << header.depth;
  for (int i = 0; i < colours; ++i) {
    const int level = i * 255 / (colours - 1);
    state->map[i] = picEncodeColour(level, level, level);
  }
  return colours;
}

// Gives the callback the file's pHYs (see the file comment), or zeros.
void reportResolution(const char* fileName, PngState* state) {
  double xRes = 0.0, yRes = 0.0;
  int unit = PIC_RES_NONE;
  png_uint_32 x = 0, y = 0;
  int unitType = PNG_RESOLUTION_UNKNOWN;
  if (png_get_pHYs(state->png, state->info, &x, &y, &unitType)) {
    const bool perMetre = unitType == PNG_RESOLUTION_METER;
    unit = perMetre ? PIC_RES_CM : PIC_RES_NONE;
    xRes = perMetre ? x / pngCentimetresPerMetre : x;
    yRes = perMetre ? y / pngCentimetresPerMetre : y;
  }
  picCallResolution(fileName, &xRes, &yRes, &unit);
}

picFile* openRead(const char* fileName, int* status) {
  picFile* file = picNewFile();
  PngState* state = picNewState<PngState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->stream = picBinOpen(fileName, PIC_BIN_READ, PIC_BIG_ENDIAN);
  if (!state->stream) return release(file, state, status, PIC_ERR_OPEN);
  state->input = new (std::nothrow) picInputWindow();
  if (!state->input || !state->input->start(state->stream, pngChunk))
    return release(file, state, status, PIC_ERR_OPEN);
  // libpng reads from the start: the header is looked at, not consumed.
  const uint8_t* head = nullptr;
  const int headLength = state->input->look(pngFirstRead, &head);

  PngHeader header = {};
  const int headerStatus = decodeHeader(head, headLength, &header);
  if (headerStatus != PIC_OK && headerStatus != PIC_ERR_DATA) return release(file, state, status, headerStatus);
  const bool mapped = readsAsMap(header);
  const bool sizeFits = header.width <= INT32_MAX && header.height <= INT32_MAX;
  // Deflate, the format's one compression, is PIC_COMP_RLE.
  picDescribe(file, sizeFits ? int(header.width) : 0, sizeFits ? int(header.height) : 0, mapped ? PIC_MAP : PIC_RGB,
              PIC_COMP_RLE, mapped && header.depth <= 8 ? 1 << header.depth : 0);
  file->driverData = state;
  file->mapFirst = 1;
  file->currentLine = file->height - 1;
  // Described but not loadable: close has no libpng object to destroy. A file
  // too short for its image is described as any cut file is, and its load
  // fails at the first line.
  const int sizes = headerStatus == PIC_OK ? checkSizes(header, picBinSize(state->stream)) : headerStatus;
  if (sizes == PIC_ERR_READ) state->broken = true;
  if (sizes != PIC_OK && sizes != PIC_ERR_READ) return picOpenResult(status, PIC_ERR_DATA, file);
  if (state->broken) return picOpenResult(status, PIC_OK, file);

  if (!guardedReadInfo(state, &header))
    return release(file, state, status, picRefuse(PIC_ERR_READ, "chunks before the image data cut or damaged"));
  reportResolution(fileName, state);
  state->channels = mapped ? 1 : 3;
  if (state->lineBytes != size_t(file->width) * size_t(state->channels))
    return release(file, state, status, picRefuse(PIC_ERR_DATA, "decoded line of an unexpected size"));
  if (mapped) {
    file->colours = buildMap(state, header);
    if (file->colours == 0) return release(file, state, status, picRefuse(PIC_ERR_DATA, "no palette of 1 to 256 entries"));
  }
  // An interlaced image is decoded whole at the first line, a plain one line by line.
  if (!state->interlaced) {
    state->lines = static_cast<uint8_t*>(std::malloc(state->lineBytes));
    if (!state->lines) return release(file, state, status, PIC_ERR_READ);
  }
  return picOpenResult(status, PIC_OK, file);
}

// Decodes an interlaced image whole into state->lines.
bool decodeInterlaced(picFile* file, PngState* state) {
  const size_t height = size_t(file->height);
  state->lines = static_cast<uint8_t*>(std::calloc(height, state->lineBytes));
  state->rowPointers = static_cast<png_bytepp>(std::malloc(height * sizeof(png_bytep)));
  if (!state->lines || !state->rowPointers) return false;
  for (size_t y = 0; y < height; ++y) state->rowPointers[y] = state->lines + y * state->lineBytes;
  return guardedReadImage(state);
}

// The next decoded line, or null when the data ends or is damaged.
const uint8_t* nextLine(picFile* file) {
  PngState* state = stateOf(file);
  if (state->writing || !state->png || state->broken || state->linesRead >= file->height) return nullptr;
  const uint8_t* line = state->lines;
  if (state->interlaced) {
    if (state->linesRead == 0 && !decodeInterlaced(file, state)) {
      state->broken = true;
      picRefuse(PIC_ERR_READ, "image data cut or damaged");
      return nullptr;
    }
    line = state->rowPointers[state->linesRead];
  } else if (!guardedReadLine(state, state->lines, state->linesRead + 1 == file->height)) {
    state->broken = true;
    picRefuse(PIC_ERR_READ, "image data cut or damaged");
    return nullptr;
  }
  ++state->linesRead;
  --file->currentLine;
  return line;
}

picFile* openWrite(const char* fileName, int width, int height, int colourMode, int compression,
                   int colours, int* status) {
  if (colourMode != PIC_MAP && colourMode != PIC_RGB)
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "unknown colour mode"), nullptr);
  if (colourMode == PIC_MAP && (colours < 1 || colours > PIC_MAX_COLOURS))
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "colour count outside 1 to 256"), nullptr);
  if (compression != PIC_COMP_NONE && compression != PIC_COMP_RLE)
    return picOpenResult(status, picRefuse(PIC_ERR_COMPRESSION, "compression other than deflate"), nullptr);
  if (picCheckImageSize(width, height, 3) != PIC_OK) return picOpenResult(status, PIC_ERR_DATA, nullptr);

  picFile* file = picNewFile();
  PngState* state = picNewState<PngState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->writing = true;
  state->line = static_cast<uint8_t*>(std::malloc(size_t(width) * 3));
  if (!state->line) return release(file, state, status, PIC_ERR_OPEN);
  state->stream = picBinOpen(fileName, PIC_BIN_WRITE, PIC_BIG_ENDIAN);
  if (!state->stream) return release(file, state, status, PIC_ERR_OPEN);

  double xRes = 0.0, yRes = 0.0;
  int unit = PIC_RES_NONE;
  picCallResolution(fileName, &xRes, &yRes, &unit);
  const PngEncoderSettings settings = {width,
                                       height,
                                       colourMode == PIC_MAP,
                                       compression == PIC_COMP_NONE ? pngStoredLevel : pngDefaultLevel,
                                       unit != PIC_RES_NONE,
                                       pixelsPerMetre(xRes, unit),
                                       pixelsPerMetre(yRes, unit),
                                       pngWholeImageLimit};
  state->encoder = PngEncoder::create(settings, writeToStream, state->stream);
  if (!state->encoder) return release(file, state, status, PIC_ERR_OPEN);
  // A true-colour file's chunks before the image data go out at once, a palette file's with its palette.
  if (colourMode == PIC_RGB && !state->encoder->start(nullptr, 0)) return release(file, state, status, PIC_ERR_WRITE);
  picDescribe(file, width, height, colourMode, compression, colours);
  file->driverData = state;
  file->mapFirst = 1;
  file->currentLine = height - 1;
  return picOpenResult(status, PIC_OK, file);
}

int close(picFile* file) {
  PngState* state = stateOf(file);
  // A file written short lacks its end chunk: other readers refuse it.
  const bool failed = state->writing && !state->encoder->complete();
  const int closed = picCloseStream(state->stream);
  release(file, state, nullptr, PIC_OK);
  return failed ? PIC_ERR_WRITE : closed;
}

int readMap(picFile* file, int32_t* map) {
  const PngState* state = stateOf(file);
  if (file->colourMode != PIC_MAP) return PIC_ERR_READ;
  std::memcpy(map, state->map, size_t(file->colours) * sizeof(int32_t));
  return PIC_OK;
}

int writeMap(picFile* file, const int32_t* map) {
  PngState* state = stateOf(file);
  if (file->colourMode != PIC_MAP) return PIC_ERR_WRITE;
  uint8_t palette[PIC_MAX_COLOURS * 3];
  for (int i = 0; i < file->colours; ++i)
    picDecodeColour(&palette[3 * i], &palette[3 * i + 1], &palette[3 * i + 2], map[i]);
  return state->encoder->start(palette, file->colours) ? PIC_OK : PIC_ERR_WRITE;
}

int readLine(picFile* file, uint8_t* line) {
  if (file->colourMode != PIC_MAP) return PIC_ERR_READ;
  const uint8_t* decoded = nextLine(file);
  if (!decoded) return PIC_ERR_READ;
  std::memcpy(line, decoded, size_t(file->width));
  return PIC_OK;
}

int readRGBLine(picFile* file, uint8_t* red, uint8_t* green, uint8_t* blue) {
  if (file->colourMode != PIC_RGB) return PIC_ERR_READ;
  const uint8_t* decoded = nextLine(file);
  if (!decoded) return PIC_ERR_READ;
  picSplitPixels(decoded, 3, file->width, red, green, blue);
  return PIC_OK;
}

// The encoder completes the file at the last line, so that a failing final
// write is reported by the line call rather than lost in close.
int writeStoredLine(picFile* file) {
  PngState* state = stateOf(file);
  if (!state->encoder->addRow(state->line)) return PIC_ERR_WRITE;
  --file->currentLine;
  return PIC_OK;
}

int writeLine(picFile* file, const uint8_t* line) {
  if (file->colourMode != PIC_MAP) return PIC_ERR_WRITE;
  std::memcpy(stateOf(file)->line, line, size_t(file->width));
  return writeStoredLine(file);
}

int writeRGBLine(picFile* file, const uint8_t* red, const uint8_t* green, const uint8_t* blue) {
  if (file->colourMode != PIC_RGB) return PIC_ERR_WRITE;
  picPackPixels(red, green, blue, file->width, stateOf(file)->line);
  return writeStoredLine(file);
}

int control(void*, int) { return 0; }

picDriver driver = {0,        control,  openRead,  openWrite,   close,       readMap,
                    writeMap, readLine, writeLine, readRGBLine, writeRGBLine};

}  // namespace

picDriver* picPngDriver(void) { return &driver; }

namespace {

// A chunk's CRC-32, bit by bit: headers for tests need no table.
uint32_t chunkCrc(const uint8_t* bytes, size_t length) {
  uint32_t crc = 0xffffffffu;
  for (size_t i = 0; i < length; ++i) {
    crc ^= bytes[i];
    for (int k = 0; k < 8; ++k) crc = crc >> 1 ^ (0xedb88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

// An 8-bit RGB file claiming width x height: the signature, IHDR, and an IDAT
// chunk claiming 1000 bytes that ends after its first two.
std::vector<uint8_t> minimalHeader(int width, int height) {
  std::vector<uint8_t> bytes(pngSignature, pngSignature + 8);
  bytes.resize(pngIhdrEnd + 10, 0);
  picPutBE32(&bytes[8], 13);
  std::memcpy(&bytes[12], "IHDR", 4);
  picPutBE32(&bytes[16], uint32_t(width));
  picPutBE32(&bytes[20], uint32_t(height));
  bytes[24] = 8;
  bytes[25] = PNG_COLOR_TYPE_RGB;  // compression, filter and interlace 0
  picPutBE32(&bytes[29], chunkCrc(&bytes[12], 17));
  picPutBE32(&bytes[pngIhdrEnd], 1000);
  std::memcpy(&bytes[pngIhdrEnd + 4], "IDAT", 4);
  bytes[pngIhdrEnd + 8] = 0x78;
  bytes[pngIhdrEnd + 9] = 0x01;
  return bytes;
}

}  // namespace

extern const picFormatInfo picPngFormat = {
    "png", ".png", picPngDriver, false, true, picMapWriter::keeps,
    {{"rle", PIC_COMP_RLE, "deflate", false}, {"none", PIC_COMP_NONE, "deflate's stored blocks", false}},
    minimalHeader};
