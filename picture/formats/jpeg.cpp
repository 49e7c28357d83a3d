// JPEG (JFIF) files through libjpeg, with a data source and destination of
// this driver's own on the binary file layer (so from and to memory as well).
// Reads greyscale files as index lines with a grey ramp, and YCbCr, RGB, CMYK
// and YCCK files as red, green and blue lines. Writes at quality 100, or the
// one PIC_CONTROL_JPEG_QUALITY sets: true colour as a three-component file,
// colour-mapped images as greyscale (the grey level of each index's map
// entry). Refuses other colour spaces (a two-component file, for instance) and
// writing without compression.
// A file cut short is described, and its load fails with PIC_ERR_READ after
// the lines its data completes: the lines above the block row the decoder
// needed data for once the data had run out (one line less where a colour
// component is subsampled vertically: that line blends in the next row);
// none when a later scan of a progressive file is missing. libjpeg's warnings
// tell: the data running out, then the decoder hitting the end marker it is
// given there with bits still needed, or missing a restart marker. A file
// lacking only its end-of-image marker loads. Arithmetic-coded data gives no
// such warning, so there the data must last into the scan's last block row.
// Memory: libjpeg's line buffers and a strip of 16 decoded lines; a
// multi-scan file also keeps every coefficient, 128 bytes a block, allowed
// only as far as the file justifies: each block costs at least one bit of its
// first scan, so 1024 bytes a file byte (beyond a floor of 16 MB, and never
// over 512 MB).
//
// libjpeg reports errors by jumping out of its own frames, so every call into
// it sits in a plain function (guarded*) that sets the recovery point first and
// holds no object with a destructor.
#include <algorithm>
#include <atomic>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

#include <vector>

#include "picture/core/driver_support.h"
#include "picture/core/format_info.h"

namespace {

const int jpegDefaultQuality = 100;
// The quality of the files saved from now on (PIC_CONTROL_JPEG_QUALITY). Global
// because the control interface is process-wide; atomic so that a save on
// another thread reads a whole value. A thread's own (..._THREAD) overrides it
// there; 0 means none (picClearThreadSettings clears it through the registry).
std::atomic<int> jpegQuality{jpegDefaultQuality};
// libjpeg-turbo decodes Huffman data on its fast path only while a few KB
// stay buffered, so small refills push most of the picture onto the slow path:
// a stream read in blocks is read in big ones (the output too).
const int jpegBufferSize = 64 << 10;
// Given in place of the data once it has ended.
const JOCTET jpegEndOfImage[2] = {0xFF, JPEG_EOI};
const int jpegGreyLevels = 256;
// A hostile header must not make libjpeg demand gigabytes, nor a file of tiny
// scans keep it busy for minutes; genuine pictures stay far below both. A file
// these guards stop is still described, and refused with PIC_ERR_DATA: a
// 14000 x 14000 colour progressive file, whose coefficients alone take 588 MB,
// is one.
const long jpegMemoryLimit = 512L << 20;
const long jpegMemoryFloor = 16L << 20;
const long jpegCoefficientBytesPerFileByte = 1024;
const int jpegMaxScans = 500;
// Every scan walks the whole picture, so the scans of a large one are held to
// this many pixels all told: sixteen scans at the largest picture the memory
// cap admits, where a genuine progressive file has six (grey) to ten.
const int64_t jpegMaxScanPixels = int64_t(1) << 32;
const uint8_t jpegSoi[2] = {0xFF, 0xD8};

// libjpeg's standard error manager, and the place its error routine jumps to.
struct ErrorManager {
  jpeg_error_mgr manager;
  jmp_buf recoveryPoint;
  bool guardStopped;  // the scan guard, not the file's data, raised the error
};

// Reading decodes up to this many lines a call into a strip and hands them
// out one by one: fewer calls, and no spare row inside libjpeg for 4:2:0 files.
const int jpegStripLines = 16;

// A plain record: libjpeg jumps across it, so nothing in it has a destructor
// (the input window is held by pointer, on the heap).
struct JpegState {
  int lineSize;
  JSAMPLE* lineBuffer;  // within lineMemory (see allocateLine)
  JSAMPLE* lineMemory;
  JSAMPLE* stripMemory;  // reading: the strip's rows (see allocateStrip)
  JSAMPROW stripRows[jpegStripLines];
  int stripCapacity;  // rows of the strip, 0 before the first line
  int stripHeld;      // rows decoded into the strip
  int stripNext;      // rows of them handed out
  bool stripFailed;   // the decoder failed after the rows held
  jpeg_decompress_struct decompressor;
  jpeg_compress_struct compressor;
  ErrorManager errors;
  picBinFile* file;
  picInputWindow* input;  // reading: the file's bytes for the data source
  uint8_t greyTable[jpegGreyLevels];  // writing colour-mapped images; unset indices give 0
  bool writing;
  J_COLOR_SPACE fileColourSpace;
  jpeg_progress_mgr progress;
};

JpegState* stateOf(picFile* file) { return static_cast<JpegState*>(file->driverData); }

// ---- Error manager: no output, every error jumps to the recovery point.

[[noreturn]] void errorExit(j_common_ptr common) {
  longjmp(reinterpret_cast<ErrorManager*>(common->err)->recoveryPoint, 1);
}

void emitMessage(j_common_ptr common, int level);
void outputMessage(j_common_ptr) {}

jpeg_error_mgr* installErrors(ErrorManager* errors) {
  jpeg_std_error(&errors->manager);
  errors->manager.error_exit = errorExit;
  errors->manager.emit_message = emitMessage;
  errors->manager.output_message = outputMessage;
  return &errors->manager;
}

void limitScans(j_common_ptr common) {
  if (!common->is_decompressor) return;
  auto* decompressor = reinterpret_cast<j_decompress_ptr>(common);
  const int64_t scans = decompressor->input_scan_number;
  const int64_t pixels = int64_t(decompressor->image_width) * decompressor->image_height;
  if (scans > jpegMaxScans || scans * pixels > jpegMaxScanPixels) {
    reinterpret_cast<ErrorManager*>(common->err)->guardStopped = true;
    ERREXIT(common, JERR_BAD_PROGRESSION);
  }
}

// ---- Data source on a picBinFile.

struct Source {
  jpeg_source_mgr manager;
  picInputWindow* input;
  int given;  // bytes of the window handed to libjpeg, consumed at the next fill
  boolean startOfFile;
  boolean ended;        // the data ended; libjpeg goes on with an end marker
  long missingFromRow;  // the block row (iMCU row) the decoder needed data for after the end, or -1
};

Source* sourceOf(j_decompress_ptr decompressor) { return reinterpret_cast<Source*>(decompressor->src); }

// The data ran out while the decoder still needed it for the current block row.
void noteDataMissing(j_decompress_ptr decompressor) {
  Source* source = sourceOf(decompressor);
  if (source->missingFromRow < 0) source->missingFromRow = long(decompressor->input_iMCU_row);
}

// Prints nothing. Once the data has run out, a decoder that hits the end
// marker given in its place with bits still needed, or misses a restart
// marker, is short of data; the same warnings before the end are corrupt data
// inside a whole file, and stay warnings.
void emitMessage(j_common_ptr common, int level) {
  if (level >= 0 || !common->is_decompressor) return;
  auto* decompressor = reinterpret_cast<j_decompress_ptr>(common);
  const int code = common->err->msg_code;
  if (sourceOf(decompressor)->ended && (code == JWRN_HIT_MARKER || code == JWRN_MUST_RESYNC))
    noteDataMissing(decompressor);
}

void initSource(j_decompress_ptr decompressor) { sourceOf(decompressor)->startOfFile = TRUE; }

// libjpeg is handed what the window shows: a memory file
// whole, where it lies, else a block at a time. It asks again only once it has
// used every byte it was given. A read error ends the data as its end does.
boolean fillInputBuffer(j_decompress_ptr decompressor) {
  Source* source = sourceOf(decompressor);
  source->input->consume(source->given);
  source->given = 0;
  const uint8_t* bytes = nullptr;
  const int shown = source->input->look(INT_MAX, &bytes);
  if (shown <= 0) {
    if (source->startOfFile) ERREXIT(decompressor, JERR_INPUT_EMPTY);
    source->ended = TRUE;
    WARNMS(decompressor, JWRN_JPEG_EOF);
    // Arithmetic decoding takes the end marker for zero bits without a word,
    // as it may at the true end of a scan, which lies in its last block row.
    if (decompressor->arith_code && decompressor->input_iMCU_row + 1 < decompressor->total_iMCU_rows)
      noteDataMissing(decompressor);
    // An end-of-image marker lets libjpeg complete the picture from what it has.
    bytes = jpegEndOfImage;
  } else {
    source->given = shown;
  }
  source->manager.next_input_byte = bytes;
  source->manager.bytes_in_buffer = size_t(shown > 0 ? shown : 2);
  source->startOfFile = FALSE;
  return TRUE;
}

void skipInputData(j_decompress_ptr decompressor, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* source = decompressor->src;
  while (count > long(source->bytes_in_buffer)) {
    count -= long(source->bytes_in_buffer);
    source->fill_input_buffer(decompressor);
  }
  source->next_input_byte += count;
  source->bytes_in_buffer -= size_t(count);
}

void termSource(j_decompress_ptr) {}

void setSource(j_decompress_ptr decompressor, picInputWindow* input) {
  if (!decompressor->src) {
    auto* source = static_cast<Source*>(decompressor->mem->alloc_small(
        reinterpret_cast<j_common_ptr>(decompressor), JPOOL_PERMANENT, sizeof(Source)));
    decompressor->src = &source->manager;
  }
  Source* source = sourceOf(decompressor);
  source->manager.init_source = initSource;
  source->manager.fill_input_buffer = fillInputBuffer;
  source->manager.skip_input_data = skipInputData;
  source->manager.resync_to_restart = jpeg_resync_to_restart;
  source->manager.term_source = termSource;
  source->input = input;
  source->given = 0;
  source->ended = FALSE;
  source->missingFromRow = -1;
  source->manager.bytes_in_buffer = 0;
  source->manager.next_input_byte = nullptr;
}

// ---- Data destination on a picBinFile.

struct Destination {
  jpeg_destination_mgr manager;
  picBinFile* file;
  JOCTET* buffer;
};

Destination* destinationOf(j_compress_ptr compressor) {
  return reinterpret_cast<Destination*>(compressor->dest);
}

void initDestination(j_compress_ptr compressor) {
  Destination* destination = destinationOf(compressor);
  destination->buffer = static_cast<JOCTET*>(compressor->mem->alloc_small(
      reinterpret_cast<j_common_ptr>(compressor), JPOOL_IMAGE, jpegBufferSize));
  destination->manager.next_output_byte = destination->buffer;
  destination->manager.free_in_buffer = jpegBufferSize;
}

boolean emptyOutputBuffer(j_compress_ptr compressor) {
  Destination* destination = destinationOf(compressor);
  if (picBinWrite(destination->file, destination->buffer, jpegBufferSize) != jpegBufferSize)
    ERREXIT(compressor, JERR_FILE_WRITE);
  destination->manager.next_output_byte = destination->buffer;
  destination->manager.free_in_buffer = jpegBufferSize;
  return TRUE;
}

void termDestination(j_compress_ptr compressor) {
  Destination* destination = destinationOf(compressor);
  const int pending = jpegBufferSize - int(destination->manager.free_in_buffer);
  if (pending > 0 && picBinWrite(destination->file, destination->buffer, pending) != pending)
    ERREXIT(compressor, JERR_FILE_WRITE);
  if (picBinError(destination->file)) ERREXIT(compressor, JERR_FILE_WRITE);
}

void setDestination(j_compress_ptr compressor, picBinFile* file) {
  if (!compressor->dest) {
    auto* destination = static_cast<Destination*>(compressor->mem->alloc_small(
        reinterpret_cast<j_common_ptr>(compressor), JPOOL_PERMANENT, sizeof(Destination)));
    compressor->dest = &destination->manager;
  }
  Destination* destination = destinationOf(compressor);
  destination->manager.init_destination = initDestination;
  destination->manager.empty_output_buffer = emptyOutputBuffer;
  destination->manager.term_destination = termDestination;
  destination->file = file;
}

// Whether every coefficient of a progressive file came at full precision:
// when one did not, a scan is missing.
bool everyCoefficientArrived(j_decompress_ptr decompressor) {
  if (!decompressor->coef_bits) return false;
  for (int c = 0; c < decompressor->num_components; ++c)
    for (int k = 0; k < DCTSIZE2; ++k)
      if (decompressor->coef_bits[c][k] != 0) return false;
  return true;
}

// The lines the file's data completes (see the file comment).
JDIMENSION linesTheDataCompletes(j_decompress_ptr decompressor) {
  const Source* source = sourceOf(decompressor);
  if (!source->ended) return decompressor->output_height;
  if (decompressor->progressive_mode && !everyCoefficientArrived(decompressor)) return 0;
  if (source->missingFromRow < 0) return decompressor->output_height;  // only the end marker is missing
  // A sequential file of several scans may lack whole scans after this one.
  if (jpeg_has_multiple_scans(decompressor) && !decompressor->progressive_mode) return 0;
  bool blended = false;
  for (int c = 0; c < decompressor->num_components; ++c)
    blended |= decompressor->comp_info[c].v_samp_factor < decompressor->max_v_samp_factor;
  const int64_t rowLines = int64_t(decompressor->max_v_samp_factor) * DCTSIZE;
  const int64_t lines = int64_t(source->missingFromRow) * rowLines - (blended ? 1 : 0);
  return JDIMENSION(std::clamp<int64_t>(lines, 0, decompressor->output_height));
}

// The coefficient memory a multi-scan file of `fileSize` bytes justifies.
long multiScanMemory(long fileSize) {
  if (fileSize < 0 || fileSize > (jpegMemoryLimit - jpegMemoryFloor) / jpegCoefficientBytesPerFileByte)
    return jpegMemoryLimit;
  return jpegMemoryFloor + fileSize * jpegCoefficientBytesPerFileByte;
}

// ---- Guarded libjpeg steps: plain frames only (see the file comment).

// Creates the decompressor on the state's file and reads the header.
bool guardedReadHeader(JpegState* state) {
  state->decompressor.err = installErrors(&state->errors);
  if (setjmp(state->errors.recoveryPoint)) return false;
  jpeg_create_decompress(&state->decompressor);
  state->decompressor.mem->max_memory_to_use = jpegMemoryLimit;
  state->progress.progress_monitor = limitScans;
  state->decompressor.progress = &state->progress;
  setSource(&state->decompressor, state->input);
  return jpeg_read_header(&state->decompressor, TRUE) == JPEG_HEADER_OK;
}

// PIC_ERR_DATA when the memory cap or the scan guard stops libjpeg (the picture
// is too big to load), PIC_ERR_FORMAT for any other libjpeg error. An error
// once the data ran out (a multi-scan file cut inside a marker) answers
// PIC_OK with no line to give: the file is described, its load fails.
int guardedStartDecompress(JpegState* state, J_COLOR_SPACE outColourSpace) {
  if (setjmp(state->errors.recoveryPoint)) {
    const int error = state->errors.manager.msg_code;
    if (state->errors.guardStopped) return picRefuse(PIC_ERR_DATA, "too many scans for the picture");
    if (error == JERR_OUT_OF_MEMORY || error == JERR_NO_BACKING_STORE)
      return picRefuse(PIC_ERR_DATA, "coefficients over the memory cap");
    state->stripFailed = sourceOf(&state->decompressor)->ended;
    return state->stripFailed ? PIC_OK : picRefuse(PIC_ERR_FORMAT, "damaged data before the first lines");
  }
  state->decompressor.out_color_space = outColourSpace;
  if (jpeg_has_multiple_scans(&state->decompressor))
    state->decompressor.mem->max_memory_to_use = multiScanMemory(picBinSize(state->file));
  return jpeg_start_decompress(&state->decompressor) ? PIC_OK : picRefuse(PIC_ERR_READ, "data ends before the first lines");
}

// Decodes the next strip of lines. The rows decoded before a failure, and
// that the file's data completes, stay held, to be handed out before the
// failure is reported.
void guardedReadStrip(JpegState* state) {
  jpeg_decompress_struct* decompressor = &state->decompressor;
  const JDIMENSION first = decompressor->output_scanline;
  state->stripHeld = state->stripNext = 0;
  if (setjmp(state->errors.recoveryPoint)) {
    state->stripFailed = true;
    return;
  }
  const JDIMENSION left = decompressor->output_height - first;
  const int wanted = left < JDIMENSION(state->stripCapacity) ? int(left) : state->stripCapacity;
  if (wanted == 0) state->stripFailed = true;
  while (state->stripHeld < wanted && !state->stripFailed) {
    const JDIMENSION got = jpeg_read_scanlines(decompressor, state->stripRows + state->stripHeld,
                                               JDIMENSION(wanted - state->stripHeld));
    state->stripHeld += int(got);
    const JDIMENSION complete = linesTheDataCompletes(decompressor);
    const bool pastTheData = complete < decompressor->output_scanline;
    if (pastTheData) state->stripHeld = complete > first ? int(complete - first) : 0;
    if (got == 0 || pastTheData) state->stripFailed = true;
  }
}

void guardedFinishDecompress(JpegState* state) {
  if (setjmp(state->errors.recoveryPoint)) return;
  jpeg_finish_decompress(&state->decompressor);
}

struct WriteSettings {
  int width, height, components;
  J_COLOR_SPACE colourSpace;
  int densityUnit;  // 0: keep libjpeg's default density
  UINT16 xDensity, yDensity;
};

// Creates the compressor on the state's file and writes the header markers.
bool guardedStartCompress(JpegState* state, const WriteSettings* settings) {
  jpeg_compress_struct* compressor = &state->compressor;
  compressor->err = installErrors(&state->errors);
  if (setjmp(state->errors.recoveryPoint)) return false;
  jpeg_create_compress(compressor);
  setDestination(compressor, state->file);
  compressor->image_width = JDIMENSION(settings->width);
  compressor->image_height = JDIMENSION(settings->height);
  compressor->input_components = settings->components;
  compressor->in_color_space = settings->colourSpace;
  jpeg_set_defaults(compressor);
  const int threadQuality = picThreadJpegQuality();
  jpeg_set_quality(compressor, threadQuality > 0 ? threadQuality : jpegQuality.load(), TRUE);
  if (settings->densityUnit != 0) {
    compressor->density_unit = UINT8(settings->densityUnit);
    compressor->X_density = settings->xDensity;
    compressor->Y_density = settings->yDensity;
  }
  jpeg_start_compress(compressor, TRUE);
  return true;
}

// Writes the line buffer; after the last line, completes the file so that a
// failing final write is reported by the line call rather than lost in close.
bool guardedWriteScanline(JpegState* state) {
  if (setjmp(state->errors.recoveryPoint)) return false;
  JSAMPROW row = state->lineBuffer;
  if (jpeg_write_scanlines(&state->compressor, &row, 1) != 1) return false;
  if (state->compressor.next_scanline == state->compressor.image_height)
    jpeg_finish_compress(&state->compressor);
  return true;
}

// ---- Scanlines to planes. The planes never overlap the line buffer; saying
// so lets the compiler keep these loops in registers.

// Files with an Adobe marker (YCCK files always have one) hold their inks
// inverted, as Photoshop writes them, and common readers read them so: flip
// them back. Without the marker the inks are plain.
void splitCmyk(const JSAMPLE* __restrict pixel, uint8_t* __restrict red, uint8_t* __restrict green,
               uint8_t* __restrict blue, int width, bool invertedInks) {
  const int flip = invertedInks ? 0xFF : 0;
  for (int x = 0; x < width; ++x, pixel += 4) {
    const int white = 255 - (pixel[3] ^ flip);
    red[x] = uint8_t((255 - (pixel[0] ^ flip)) * white / 255);
    green[x] = uint8_t((255 - (pixel[1] ^ flip)) * white / 255);
    blue[x] = uint8_t((255 - (pixel[2] ^ flip)) * white / 255);
  }
}

// ---- Operations.

// Releases what an open made, in one place for every path. Destroying a libjpeg
// object never fails, and a zeroed one is a no-op.
picFile* release(picFile* file, JpegState* state, int* status, int code) {
  if (state) {
    if (state->writing)
      jpeg_destroy_compress(&state->compressor);
    else
      jpeg_destroy_decompress(&state->decompressor);
    delete state->input;
    if (state->file) picBinClose(state->file);
    std::free(state->lineMemory);
    std::free(state->stripMemory);
    picDeleteState(state);
  }
  picFreeFile(file);
  return picOpenResult(status, code, nullptr);
}

// Other formats are turned away before libjpeg is set up: the start-of-image
// marker is what libjpeg itself demands first. A plain read (no size query)
// keeps the probe cheap for files of the formats tried after this one.
bool startsWithSoi(picBinFile* stream) {
  uint8_t marker[2];
  const bool found = picBinRead(stream, marker, 2) == 2 && std::memcmp(marker, jpegSoi, 2) == 0;
  return found && picBinSeekSet(stream, 0) == 0 && !picBinError(stream);
}

void reportResolution(const char* fileName, const jpeg_decompress_struct& decompressor) {
  double xRes = 0.0, yRes = 0.0;
  int unit = PIC_RES_NONE;
  if (decompressor.density_unit != 0) {
    unit = decompressor.density_unit == 1 ? PIC_RES_INCH : PIC_RES_CM;
    xRes = decompressor.X_density;
    yRes = decompressor.Y_density;
  }
  picCallResolution(fileName, &xRes, &yRes, &unit);
}

// A JFIF density field: the resolution truncated, held within 16 bits.
UINT16 densityOf(double resolution) {
  if (!(resolution > 0.0)) return 0;
  return resolution >= 65535.0 ? UINT16(65535) : UINT16(resolution);
}

// The output colour space for a file's own, or JCS_UNKNOWN when unsupported.
J_COLOR_SPACE outputColourSpace(J_COLOR_SPACE fileColourSpace) {
  switch (fileColourSpace) {
    case JCS_GRAYSCALE: return JCS_GRAYSCALE;
    case JCS_YCbCr:
    case JCS_RGB: return JCS_RGB;
    case JCS_CMYK:
    case JCS_YCCK: return JCS_CMYK;
    default: return JCS_UNKNOWN;
  }
}

// libjpeg-turbo writes decoded rows that start on a 16- or 32-byte boundary
// with non-temporal stores, which send them past the cache to memory; the
// driver reads each row straight back, so reading puts it off that grid (an
// address 8 past a multiple of 16): up to a third off a full load.
const int lineGrid = 16;
const int lineOffGrid = 8;

bool allocateLine(JpegState* state, int offset) {
  state->lineMemory = static_cast<JSAMPLE*>(std::malloc(size_t(state->lineSize) + lineGrid));
  if (!state->lineMemory) return false;
  const auto address = reinterpret_cast<uintptr_t>(state->lineMemory);
  state->lineBuffer = state->lineMemory + (unsigned(offset) - address) % lineGrid;
  return true;
}

// The strip's rows, each off the grid as the line buffer is; the line buffer
// alone, one row, when memory runs out.
void allocateStrip(JpegState* state) {
  const size_t stride = (size_t(state->lineSize) + lineGrid - 1) / lineGrid * lineGrid;
  state->stripMemory = static_cast<JSAMPLE*>(std::malloc(stride * jpegStripLines + lineGrid));
  if (!state->stripMemory) {
    state->stripRows[0] = state->lineBuffer;
    state->stripCapacity = 1;
    return;
  }
  const auto address = reinterpret_cast<uintptr_t>(state->stripMemory);
  JSAMPLE* first = state->stripMemory + (unsigned(lineOffGrid) - address) % lineGrid;
  for (int i = 0; i < jpegStripLines; ++i) state->stripRows[i] = first + size_t(i) * stride;
  state->stripCapacity = jpegStripLines;
}

// Null, for a line decoding failed before: the data ran out, or libjpeg
// stopped on damaged data.
const JSAMPLE* noLine(JpegState* state) {
  picRefuse(PIC_ERR_READ, sourceOf(&state->decompressor)->ended ? "data ends before the line" : "damaged scan data");
  return nullptr;
}

// The next decoded line, or null when decoding failed before it.
const JSAMPLE* nextScanline(JpegState* state) {
  if (state->stripCapacity == 0) allocateStrip(state);
  if (state->stripNext == state->stripHeld) {
    if (state->stripFailed) return noLine(state);
    guardedReadStrip(state);
    if (state->stripHeld == 0) return noLine(state);
  }
  return state->stripRows[state->stripNext++];
}

picFile* openRead(const char* fileName, int* status) {
  picFile* file = picNewFile();
  JpegState* state = picNewState<JpegState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->file = picBinOpen(fileName, PIC_BIN_READ, PIC_LITTLE_ENDIAN);
  if (!state->file) return release(file, state, status, PIC_ERR_OPEN);
  if (!startsWithSoi(state->file)) return release(file, state, status, PIC_ERR_FORMAT);
  state->input = new (std::nothrow) picInputWindow();
  if (!state->input || !state->input->start(state->file, jpegBufferSize))
    return release(file, state, status, PIC_ERR_OPEN);
  if (!guardedReadHeader(state))
    return release(file, state, status, picRefuse(PIC_ERR_FORMAT, "header cut or damaged"));

  const jpeg_decompress_struct& decompressor = state->decompressor;
  state->fileColourSpace = decompressor.jpeg_color_space;
  const J_COLOR_SPACE outColourSpace = outputColourSpace(state->fileColourSpace);
  const bool grey = outColourSpace == JCS_GRAYSCALE;
  picDescribe(file, int(decompressor.image_width), int(decompressor.image_height), grey ? PIC_MAP : PIC_RGB,
              PIC_COMP_RLE, jpegGreyLevels);
  file->driverData = state;
  file->mapFirst = 1;
  file->currentLine = file->height - 1;
  reportResolution(fileName, decompressor);

  // Described but not loadable: close destroys the decompressor unstarted.
  if (outColourSpace == JCS_UNKNOWN)
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "colour space other than grey, YCbCr, RGB, CMYK or YCCK"),
                         file);
  if (picCheckReadSize(file->width, file->height, 4) != PIC_OK) return picOpenResult(status, PIC_ERR_DATA, file);

  const int started = guardedStartDecompress(state, outColourSpace);
  // Too big to load: described all the same; close only destroys the decompressor.
  if (started == PIC_ERR_DATA) return picOpenResult(status, PIC_ERR_DATA, file);
  if (started != PIC_OK) return release(file, state, status, started);
  state->lineSize = int(decompressor.output_width) * decompressor.output_components;
  if (!allocateLine(state, lineOffGrid)) return release(file, state, status, PIC_ERR_READ);
  return picOpenResult(status, PIC_OK, file);
}

picFile* openWrite(const char* fileName, int width, int height, int colourMode, int compression,
                   int colours, int* status) {
  if (compression == PIC_COMP_NONE)
    return picOpenResult(status, picRefuse(PIC_ERR_COMPRESSION, "no uncompressed JPEG"), nullptr);
  if (colourMode != PIC_RGB && colourMode != PIC_MAP)
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "unknown colour mode"), nullptr);
  if (colourMode == PIC_MAP && (colours < 0 || colours > PIC_MAX_COLOURS))
    return picOpenResult(status, picRefuse(PIC_ERR_DATA, "colour count outside 0 to 256"), nullptr);
  // libjpeg's set-up would fail on these sides: a write failure, found before
  // the file is created or a line allocated.
  if (width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION)
    return picOpenResult(status, picRefuse(PIC_ERR_WRITE, "a side over 65500 pixels"), nullptr);
  if (picCheckImageSize(width, height, 3) != PIC_OK) return picOpenResult(status, PIC_ERR_DATA, nullptr);

  picFile* file = picNewFile();
  JpegState* state = picNewState<JpegState>();
  if (!file || !state) return release(file, state, status, PIC_ERR_OPEN);
  state->writing = true;
  state->file = picBinOpen(fileName, PIC_BIN_WRITE, PIC_LITTLE_ENDIAN);
  if (!state->file) return release(file, state, status, PIC_ERR_OPEN);

  WriteSettings settings = {};
  settings.width = width;
  settings.height = height;
  settings.components = colourMode == PIC_MAP ? 1 : 3;
  settings.colourSpace = colourMode == PIC_MAP ? JCS_GRAYSCALE : JCS_RGB;
  double xRes = 0.0, yRes = 0.0;
  int unit = PIC_RES_NONE;
  picCallResolution(fileName, &xRes, &yRes, &unit);
  if (unit != PIC_RES_NONE) {
    settings.densityUnit = unit == PIC_RES_INCH ? 1 : 2;
    settings.xDensity = densityOf(xRes);
    settings.yDensity = densityOf(yRes);
  }
  if (!guardedStartCompress(state, &settings)) return release(file, state, status, PIC_ERR_WRITE);

  picDescribe(file, width, height, colourMode, compression, colours);
  file->driverData = state;
  file->mapFirst = 1;
  file->currentLine = height - 1;
  state->lineSize = settings.components * width;
  if (!allocateLine(state, 0)) return release(file, state, status, PIC_ERR_WRITE);
  return picOpenResult(status, PIC_OK, file);
}

// Finishes a read only when every line came through; an unfinished write is
// abandoned (the file keeps what was already flushed).
int close(picFile* file) {
  JpegState* state = stateOf(file);
  if (!state->writing && state->lineBuffer &&
      state->decompressor.output_scanline == state->decompressor.output_height)
    guardedFinishDecompress(state);
  const int closed = picCloseStream(state->file);
  release(file, state, nullptr, PIC_OK);
  return closed;
}

int readMap(picFile*, int32_t* map) {
  for (int i = 0; i < jpegGreyLevels; ++i) map[i] = picEncodeColour(i, i, i);
  return PIC_OK;
}

int writeMap(picFile* file, const int32_t* map) {
  JpegState* state = stateOf(file);
  const int colours = file->colours < PIC_MAX_COLOURS ? file->colours : PIC_MAX_COLOURS;
  for (int i = 0; i < colours; ++i) {
    uint8_t red, green, blue;
    picDecodeColour(&red, &green, &blue, map[i]);
    state->greyTable[i] = uint8_t(picGreyLevel(red, green, blue));
  }
  return PIC_OK;
}

int readLine(picFile* file, uint8_t* line) {
  JpegState* state = stateOf(file);
  const JSAMPLE* row = state->writing || !state->lineBuffer ? nullptr : nextScanline(state);
  if (!row) return PIC_ERR_READ;
  std::memcpy(line, row, size_t(file->width));
  --file->currentLine;
  return PIC_OK;
}

int writeLine(picFile* file, const uint8_t* line) {
  JpegState* state = stateOf(file);
  if (!state->lineBuffer || state->compressor.input_components != 1) return PIC_ERR_WRITE;
  for (int x = 0; x < file->width; ++x) state->lineBuffer[x] = state->greyTable[line[x]];
  if (!guardedWriteScanline(state)) return PIC_ERR_WRITE;
  --file->currentLine;
  return PIC_OK;
}

int readRGBLine(picFile* file, uint8_t* red, uint8_t* green, uint8_t* blue) {
  JpegState* state = stateOf(file);
  const J_COLOR_SPACE outColourSpace = state->decompressor.out_color_space;
  if (state->writing || !state->lineBuffer) return PIC_ERR_READ;
  if (outColourSpace != JCS_RGB && outColourSpace != JCS_CMYK) return PIC_ERR_DATA;
  const JSAMPLE* row = nextScanline(state);
  if (!row) return PIC_ERR_READ;
  if (outColourSpace == JCS_RGB)
    picSplitPixels(row, 3, file->width, red, green, blue);
  else
    splitCmyk(row, red, green, blue, file->width,
              state->fileColourSpace == JCS_YCCK || state->decompressor.saw_Adobe_marker);
  --file->currentLine;
  return PIC_OK;
}

int writeRGBLine(picFile* file, const uint8_t* red, const uint8_t* green, const uint8_t* blue) {
  JpegState* state = stateOf(file);
  if (!state->lineBuffer || state->compressor.input_components != 3) return PIC_ERR_WRITE;
  picPackPixels(red, green, blue, file->width, state->lineBuffer);
  if (!guardedWriteScanline(state)) return PIC_ERR_WRITE;
  --file->currentLine;
  return PIC_OK;
}

// PIC_CONTROL_JPEG_QUALITY(_THREAD): the quality of later saves (of this
// thread's), 1 to 100; a null arg restores the default (drops this thread's).
// Answers 1 when the value was taken.
int control(void* arg, int code) {
  if (code != PIC_CONTROL_JPEG_QUALITY && code != PIC_CONTROL_JPEG_QUALITY_THREAD) return 0;
  const bool thread = code == PIC_CONTROL_JPEG_QUALITY_THREAD;
  const int quality = arg ? *static_cast<const int*>(arg) : thread ? 0 : jpegDefaultQuality;
  if ((quality < 1 && !(thread && !arg)) || quality > 100) return 0;
  if (thread)
    picSetThreadJpegQuality(quality);
  else
    jpegQuality.store(quality);
  return 1;
}

picDriver driver = {PIC_DRIVER_JPEG, control, openRead,  openWrite,   close,       readMap,
                    writeMap, readLine, writeLine, readRGBLine, writeRGBLine};

}  // namespace

picDriver* picJpegDriver(void) { return &driver; }

namespace {

// A baseline greyscale file claiming width x height: a quantisation table of
// ones, the frame, one-code Huffman tables and the scan header, then 16 zero
// bytes of scan data, and the file ends.
std::vector<uint8_t> minimalHeader(int width, int height) {
  std::vector<uint8_t> bytes = {0xFF, 0xD8, 0xFF, 0xDB, 0, 67, 0};
  bytes.insert(bytes.end(), 64, 1);
  bytes.insert(bytes.end(), {0xFF, 0xC0, 0, 11, 8, uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8),
                             uint8_t(width), 1, 1, 0x11, 0});  // one component, 1x1, table 0
  for (uint8_t tableClass : {0x00, 0x10}) {  // DC and AC table 0: one 1-bit code, for symbol 0
    bytes.insert(bytes.end(), {0xFF, 0xC4, 0, 20, tableClass, 1});
    bytes.insert(bytes.end(), 16, 0);
  }
  bytes.insert(bytes.end(), {0xFF, 0xDA, 0, 8, 1, 1, 0x00, 0, 63, 0});
  bytes.insert(bytes.end(), 16, 0);
  return bytes;
}

}  // namespace

extern const picFormatInfo picJpegFormat = {
    "jpeg", ".jpg .jpeg", picJpegDriver, true, true, picMapWriter::greyLevels,
    {{"rle", PIC_COMP_RLE, "its own, lossy: see --quality", false}},
    minimalHeader};
