// The benchmark's file kinds. Every format of the library's list and every
// compression its writer makes gives one file (true colour when the format
// writes it, else the 3-3-2 map) and one save; what the list cannot know is
// kept here by format name: the peers of each format, the files the library
// does not write (JPEG samplings, run-length SGI and Sun raster, PNG
// variants), and the files of other tools (bench_outside).
#include "bench_kinds.h"

#include <cctype>
#include <cstring>

#include "bench_encoders.h"
#include "bench_outside.h"
#include "picture/core/format_info.h"

namespace {

struct FormatPeers {
  const char* format;
  unsigned loads, saves;  // Peer bits
};

// stb_image reads no run-length BMP; giflib writes LZW only (see saveKinds).
const FormatPeers formatPeers[] = {
    {"bmp", PEER_STB, PEER_STB},
    {"gif", PEER_STB | PEER_GIFLIB, PEER_GIFLIB},
    {"tiff", PEER_LIBTIFF, PEER_LIBTIFF},
    {"tga", PEER_STB, PEER_STB},
    {"jpeg", PEER_STB | PEER_LIBJPEG_LINE | PEER_LIBJPEG_16, PEER_STB | PEER_LIBJPEG_LINE},
    {"pnm", PEER_STB, 0},
    {"png", PEER_STB | PEER_LIBPNG, PEER_LIBPNG},
};

unsigned peersOf(const char* format, bool saves) {
  for (const FormatPeers& peers : formatPeers)
    if (std::strcmp(peers.format, format) == 0) return saves ? peers.saves : peers.loads;
  return 0;
}

// Files made here rather than by the library's writer.
struct Variant {
  const char* format;
  const char* key;
  const char* label;
  const char* writer;
  bool mapped, runLength;
  double peerTarget;
  Bytes (*make)(const SourcePicture&);
};

const Variant variants[] = {
    {"sun", "sun-rle", "Sun raster RLE", "bench", false, true, 1, sunRunLength},
    {"sgi", "sgi-rle", "SGI RLE", "bench", false, true, 1, sgiRunLength},
    {"jpeg", "jpeg-420", "JPEG 4:2:0 q90", "libjpeg", false, false, 1, [](const SourcePicture& p) { return jpegFile(p, true); }},
    {"jpeg", "jpeg-444", "JPEG 4:4:4 q90", "libjpeg", false, false, 1,
     [](const SourcePicture& p) { return jpegFile(p, false); }},
    {"png", "png-rgb", "PNG RGB level 6", "libpng", false, false, 2,
     [](const SourcePicture& p) { return pngFile(p, PngLayout::rgb); }},
    {"png", "png-palette", "PNG palette", "libpng", true, false, 1,
     [](const SourcePicture& p) { return pngFile(p, PngLayout::palette); }},
    {"png", "png-adam7", "PNG Adam7", "libpng", false, false, 1,
     [](const SourcePicture& p) { return pngFile(p, PngLayout::adam7); }},
};

// The formats whose drivers are registered, in the list's order.
std::vector<const picFormatInfo*> registeredFormats() {
  int count = 0;
  const picFormatInfo* const* formats = picFormatList(&count);
  std::vector<const picFormatInfo*> registered;
  for (int f = 0; f < count; ++f)
    if (picFormatDriverIndex(*formats[f]) >= 0) registered.push_back(formats[f]);
  return registered;
}

std::vector<picWrittenCompression> writtenCompressions(const picFormatInfo& format) {
  std::vector<picWrittenCompression> written;
  for (const picWrittenCompression* c = format.compressions; c < format.compressions + 4 && c->name; ++c)
    written.push_back(*c);
  return written;
}

std::string upper(const char* text) {
  std::string out = text;
  for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// The library's own file of one format and compression.
FileKind libraryKind(const picFormatInfo& format, const picWrittenCompression& compression) {
  FileKind kind;
  kind.key = std::string(format.name) + "-" + compression.name;
  kind.mapped = !format.writesRgb || compression.mapsOnly;
  kind.label = upper(format.name) + " " + compression.name + (kind.mapped ? " 8-bit" : "");
  kind.writer = "solsys";
  kind.exact = std::strcmp(format.name, "jpeg") != 0;
  kind.uncompressed = compression.code == PIC_COMP_NONE && !kind.mapped;
  kind.runLength = std::strstr(compression.meaning, "run-length") || std::strstr(compression.meaning, "RLE");
  kind.peers = peersOf(format.name, false);
  if (kind.mapped && std::strcmp(format.name, "bmp") == 0) kind.peers = 0;  // run-length BMP
  const int code = picFormatDriverIndex(format) | compression.code;
  const bool mapped = kind.mapped, gapless = kind.peers & PEER_STB && std::strcmp(format.name, "bmp") == 0;
  kind.make = [code, mapped, gapless](const SourcePicture& p) {
    Bytes file = librarySave(p, code, mapped);
    return gapless ? withoutBmpGap(std::move(file)) : file;
  };
  return kind;
}

}  // namespace

const char* peerName(unsigned peer, bool encoder) {
  switch (peer) {
    case PEER_STB: return encoder ? "stb_image_write" : "stb_image";
    case PEER_LIBJPEG_LINE: return encoder ? "libjpeg" : "libjpeg-1line";
    case PEER_LIBJPEG_16: return "libjpeg-16lines";
    case PEER_LIBTIFF: return "libtiff";
    case PEER_GIFLIB: return "giflib";
    case PEER_LIBPNG: return "libpng";
  }
  return "?";
}

std::vector<FileKind> loadKinds(const std::string& outsideFolder) {
  std::vector<FileKind> kinds;
  for (const picFormatInfo* listed : registeredFormats()) {
    const picFormatInfo& format = *listed;
    for (const picWrittenCompression& c : writtenCompressions(format)) kinds.push_back(libraryKind(format, c));
    for (const Variant& variant : variants) {
      if (std::strcmp(variant.format, format.name) != 0) continue;
      FileKind kind;
      kind.key = variant.key, kind.label = variant.label, kind.writer = variant.writer;
      kind.mapped = variant.mapped, kind.exact = std::strcmp(format.name, "jpeg") != 0;
      kind.runLength = variant.runLength;
      kind.peers = peersOf(format.name, false);
      kind.peerTarget = variant.peerTarget;
      kind.make = variant.make;
      kinds.push_back(kind);
    }
    for (int o = 0; o < outsideFileCount; ++o) {
      const OutsideFile& file = outsideFiles[o];
      if (std::strcmp(file.format, format.name) != 0) continue;
      FileKind kind;
      kind.key = file.key, kind.label = file.label, kind.writer = file.writer;
      kind.mapped = file.mapped, kind.uncompressed = file.uncompressed, kind.runLength = file.runLength;
      kind.peers = peersOf(format.name, false);
      kind.make = [&file, outsideFolder](const SourcePicture& p) { return outsideFile(file, p, outsideFolder); };
      kinds.push_back(kind);
    }
  }
  return kinds;
}

std::vector<SaveKind> saveKinds() {
  std::vector<SaveKind> kinds;
  for (const picFormatInfo* listed : registeredFormats()) {
    const picFormatInfo& format = *listed;
    for (const picWrittenCompression& c : writtenCompressions(format)) {
      SaveKind kind;
      kind.key = std::string(format.name) + "-" + c.name;
      kind.mapped = !format.writesRgb || c.mapsOnly;
      kind.label = upper(format.name) + " " + c.name + (kind.mapped ? " 8-bit" : "");
      kind.format = picFormatDriverIndex(format) | c.code;
      kind.compressionLevel = c.code == PIC_COMP_NONE ? 0 : 6;
      kind.peers = peersOf(format.name, true);
      // giflib writes LZW only; stb_image_write no run-length BMP.
      if (std::strcmp(format.name, "gif") == 0 && c.code != PIC_COMP_LZW) kind.peers = 0;
      if (std::strcmp(format.name, "bmp") == 0 && kind.mapped) kind.peers = 0;
      kinds.push_back(kind);
    }
  }
  return kinds;
}
