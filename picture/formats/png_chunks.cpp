// PNG's chunks, read through the input window. Every chunk is a 31-bit length,
// a four-letter name, its data and a CRC-32 of name and data. Critical chunks
// (a capital first letter) are checked, CRC included; an unknown one ends the
// file. Of the ancillary ones only pHYs is read (a damaged one is ignored);
// the rest are skipped, their data and CRC unread.
#include "picture/formats/png_chunks.h"

#include <libdeflate.h>

#include <cstring>

namespace {

const uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
const uint32_t pngMaxChunkLength = 0x7fffffffu;
const int pngMaxPaletteBytes = 256 * 3;
const int pngPhysBytes = 9;
const size_t pngLeastGathering = 64 << 10;
const size_t pngMostFirstGathering = size_t(64) << 20;

const char* const cutBefore = "chunks before the image data cut or damaged";
const char* const cutData = "image data cut or damaged";
const char* const cutAfter = "file ends before IEND";

struct ChunkHeader {
  uint32_t length;
  char name[5];
};

bool named(const ChunkHeader& chunk, const char* name) { return std::memcmp(chunk.name, name, 4) == 0; }
bool critical(const ChunkHeader& chunk) { return (chunk.name[0] & 0x20) == 0; }

uint32_t nameCrc(const ChunkHeader& chunk) { return libdeflate_crc32(0, chunk.name, 4); }

// The next chunk's length and name: null, or the reason it cannot be read.
const char* readChunkHeader(picInputWindow& input, ChunkHeader* chunk, const char* cut) {
  uint8_t bytes[8];
  if (!input.read(bytes, 8)) return cut;
  chunk->length = picGetBE32(bytes);
  std::memcpy(chunk->name, bytes + 4, 4);
  chunk->name[4] = 0;
  if (chunk->length > pngMaxChunkLength) return "chunk length over 2^31-1";
  for (int i = 0; i < 4; ++i) {
    const uint8_t letter = bytes[4 + i] & ~0x20;
    if (letter < 'A' || letter > 'Z') return "chunk type not letters";
  }
  return nullptr;
}

// A growing buffer of the gathered image data: it holds what the file had.
// It starts with room for the rest of the file (up to 64 MB), and doubles.
struct Gathering {
  PngBuffer bytes;
  size_t size = 0, capacity = 0, first = pngLeastGathering;

  bool append(const uint8_t* source, size_t n) {
    if (capacity - size < n) {
      size_t wanted = capacity < first ? first : capacity * 2;
      if (wanted < size + n) wanted = size + n;
      PngBuffer grown = pngAllocateLarge(wanted);
      if (!grown) return false;
      if (size) std::memcpy(grown.get(), bytes.get(), size);
      bytes = std::move(grown);
      capacity = wanted;
    }
    std::memcpy(bytes.get() + size, source, n);
    size += n;
    return true;
  }
};

enum class Passed { whole, cut, outOfMemory };

// Passes `length` bytes of chunk data through the CRC, and into `gathering`
// when given, a window's view at a time.
Passed passData(picInputWindow& input, uint32_t length, uint32_t* crc, Gathering* gathering) {
  while (length > 0) {
    const uint8_t* bytes = nullptr;
    const int shown = input.look(int(length), &bytes);
    if (shown <= 0) return Passed::cut;
    *crc = libdeflate_crc32(*crc, bytes, size_t(shown));
    if (gathering && !gathering->append(bytes, size_t(shown))) return Passed::outOfMemory;
    input.consume(shown);
    length -= uint32_t(shown);
  }
  return Passed::whole;
}

// The stored CRC against the computed one: null, or the reason.
const char* checkCrc(picInputWindow& input, uint32_t crc, const char* cut) {
  uint8_t stored[4];
  if (!input.read(stored, 4)) return cut;
  return picGetBE32(stored) == crc ? nullptr : "bad CRC";
}

// A short chunk's data and CRC read whole: null, or the reason.
const char* readSmallChunk(picInputWindow& input, const ChunkHeader& chunk, uint8_t* data) {
  if (!input.read(data, int(chunk.length))) return cutBefore;
  return checkCrc(input, libdeflate_crc32(nameCrc(chunk), data, chunk.length), cutBefore);
}

// PLTE: null, or the reason it refuses the file.
const char* readPalette(picInputWindow& input, const ChunkHeader& chunk, const PngHeader& header,
                        PngChunksBefore* chunks) {
  if (chunks->sawPalette) return "PLTE repeated";
  chunks->sawPalette = true;
  // A grey image has no use for it; a true-colour one suggests a palette
  // with it, which a reader may ignore (unless it is empty).
  const bool sizeFits = chunk.length > 0 && chunk.length <= pngMaxPaletteBytes && chunk.length % 3 == 0;
  if (!(header.colourType & 2) || (!sizeFits && chunk.length > 0 && header.colourType != pngPalette))
    return input.skip(int64_t(chunk.length) + 4) ? nullptr : cutBefore;
  if (!sizeFits) return "PLTE size not 1 to 256 entries";
  const char* damage = readSmallChunk(input, chunk, chunks->palette);
  if (damage) return damage;
  const int entries = int(chunk.length / 3);
  const int reach = header.colourType == pngPalette ? 1 << header.depth : 256;
  // Entries past what the indices reach are never used.
  chunks->paletteEntries = header.colourType == pngPalette && entries > reach ? reach : entries;
  return nullptr;
}

// pHYs, the first one that is whole: x and y pixels a unit, and the unit.
const char* readResolution(picInputWindow& input, const ChunkHeader& chunk, PngChunksBefore* chunks) {
  if (chunks->hasResolution || chunk.length != pngPhysBytes)
    return input.skip(int64_t(chunk.length) + 4) ? nullptr : cutBefore;
  uint8_t data[pngPhysBytes];
  const char* damage = readSmallChunk(input, chunk, data);
  if (damage == cutBefore) return damage;
  if (!damage) {
    chunks->hasResolution = true;
    chunks->xPerUnit = picGetBE32(data);
    chunks->yPerUnit = picGetBE32(data + 4);
    chunks->unit = data[8];
  }
  return nullptr;
}

// The chunks after the image data, up to IEND's CRC: null, or the damage.
const char* readChunksAfter(picInputWindow& input, ChunkHeader chunk, const PngChunksBefore& before) {
  for (;; ) {
    if (named(chunk, "IEND")) {
      uint32_t crc = nameCrc(chunk);
      if (passData(input, chunk.length, &crc, nullptr) != Passed::whole) return cutAfter;
      return checkCrc(input, crc, cutAfter);
    }
    if (named(chunk, "IHDR")) return "IHDR repeated";
    if (named(chunk, "PLTE") && before.sawPalette) return "PLTE repeated";
    // A late PLTE or IDAT is ignored, as other readers do.
    if (critical(chunk) && !named(chunk, "IDAT") && !named(chunk, "PLTE")) return "unknown critical chunk";
    if (!input.skip(int64_t(chunk.length) + 4)) return cutAfter;
    const char* damage = readChunkHeader(input, &chunk, cutAfter);
    if (damage) return damage;
  }
}

}  // namespace

int pngDecodeHeader(const uint8_t* bytes, int length, PngHeader* header) {
  if (length <= 0 || std::memcmp(bytes, pngSignature, size_t(length < 8 ? length : 8)) != 0) return PIC_ERR_FORMAT;
  if (length < pngHeaderBytes) return picRefuse(PIC_ERR_READ, "file ends inside the header");
  if (picGetBE32(bytes + 8) != 13 || std::memcmp(bytes + 12, "IHDR", 4) != 0)
    return picRefuse(PIC_ERR_DATA, "first chunk not a 13-byte IHDR");
  *header = {picGetBE32(bytes + 16), picGetBE32(bytes + 20), bytes[24], bytes[25], bytes[26], bytes[27], bytes[28]};
  const int depth = header->depth;
  const char* const badDepth = "bit depth not allowed for the colour type";
  switch (header->colourType) {
    case pngGrey:
      if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16) return picRefuse(PIC_ERR_DATA, badDepth);
      break;
    case pngPalette:
      if (depth != 1 && depth != 2 && depth != 4 && depth != 8) return picRefuse(PIC_ERR_DATA, badDepth);
      break;
    case pngRgb:
    case pngGreyAlpha:
    case pngRgbAlpha:
      if (depth != 8 && depth != 16) return picRefuse(PIC_ERR_DATA, badDepth);
      break;
    default: return picRefuse(PIC_ERR_DATA, "unknown colour type");
  }
  return header->interlace > 1 ? picRefuse(PIC_ERR_DATA, "unknown interlace method") : PIC_OK;
}

int pngCheckHeaderChunk(const uint8_t* bytes, const PngHeader& header) {
  if (libdeflate_crc32(0, bytes + 12, 17) != picGetBE32(bytes + 29)) return picRefuse(PIC_ERR_READ, "bad CRC");
  if (header.compression != 0) return picRefuse(PIC_ERR_READ, "unknown compression method");
  if (header.filterMethod != 0) return picRefuse(PIC_ERR_READ, "unknown filter method");
  return PIC_OK;
}

int pngSamplesPerPixel(int colourType) {
  switch (colourType) {
    case pngRgb: return 3;
    case pngGreyAlpha: return 2;
    case pngRgbAlpha: return 4;
    default: return 1;
  }
}

uint64_t pngRowBytes(const PngHeader& header, uint64_t width) {
  return (width * uint64_t(header.depth) * uint64_t(pngSamplesPerPixel(header.colourType)) + 7) / 8;
}

int pngReadChunksBefore(picInputWindow& input, const PngHeader& header, PngChunksBefore* chunks) {
  for (;;) {
    ChunkHeader chunk;
    const char* damage = readChunkHeader(input, &chunk, cutBefore);
    if (!damage) {
      if (named(chunk, "IDAT")) {
        if (header.colourType == pngPalette && chunks->paletteEntries == 0)
          return picRefuse(PIC_ERR_READ, "no PLTE before the image data");
        chunks->firstDataLength = chunk.length;
        return PIC_OK;
      }
      if (named(chunk, "IHDR")) damage = "IHDR repeated";
      else if (named(chunk, "IEND")) damage = "IEND before the image data";
      else if (named(chunk, "PLTE")) damage = readPalette(input, chunk, header, chunks);
      else if (named(chunk, "pHYs")) damage = readResolution(input, chunk, chunks);
      else if (critical(chunk)) damage = "unknown critical chunk";
      else if (!input.skip(int64_t(chunk.length) + 4)) damage = cutBefore;
    }
    if (damage) return picRefuse(PIC_ERR_READ, damage);
  }
}

bool pngReadImageData(picInputWindow& input, bool inPlace, uint64_t bytesLeft, const PngChunksBefore& before,
                      PngImageData* data) {
  Gathering gathering;
  if (bytesLeft > gathering.first)
    gathering.first = bytesLeft < pngMostFirstGathering ? size_t(bytesLeft) : pngMostFirstGathering;
  const uint8_t* inFile = nullptr;  // a memory file's one IDAT so far
  ChunkHeader chunk = {before.firstDataLength, "IDAT"};
  for (;;) {
    uint32_t crc = nameCrc(chunk);
    const uint8_t* shown = nullptr;
    if (inPlace && !inFile && gathering.size == 0 && input.look(int(chunk.length), &shown) == int(chunk.length)) {
      crc = libdeflate_crc32(crc, shown, chunk.length);
      input.consume(int(chunk.length));
      inFile = shown;
      data->size = chunk.length;
    } else {
      if (inFile && !gathering.append(inFile, data->size)) return false;
      inFile = nullptr;
      const Passed passed = passData(input, chunk.length, &crc, &gathering);
      if (passed == Passed::outOfMemory) return false;
      if (passed == Passed::cut) data->damage = cutData;
    }
    if (!data->damage) data->damage = checkCrc(input, crc, cutData);
    if (!data->damage) data->damage = readChunkHeader(input, &chunk, cutAfter);
    if (data->damage || !named(chunk, "IDAT")) break;
  }
  if (!data->damage) data->damage = readChunksAfter(input, chunk, before);
  if (inFile) {
    data->bytes = inFile;
  } else {
    data->gathered = std::move(gathering.bytes);
    data->bytes = data->gathered.get();
    data->size = gathering.size;
  }
  return true;
}
