// The benchmark's picture (diamond-square plasma) and its files. The library
// writes every file it has a writer for; SGI and Sun raster run-length files
// (its writers store those formats plain) are encoded here, JPEG by libjpeg so
// that the sampling is chosen.
#include "bench_images.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "bench_peers.h"
#include "picture/core/picture.h"

namespace {

uint32_t nextRandom(uint32_t* state) {
  *state ^= *state << 13;
  *state ^= *state >> 17;
  *state ^= *state << 5;
  return *state;
}

// Diamond-square on a (side + 1)-square grid, values around 0; the roughness
// (amplitude kept per halving) decides how photographic it looks.
std::vector<float> plasma(int side, uint32_t seed, float roughness) {
  const int n = side + 1;
  std::vector<float> h(size_t(n) * n, 0.0f);
  auto at = [&](int x, int y) -> float& { return h[size_t(y) * n + x]; };
  uint32_t state = seed * 2654435761u + 1;
  auto jitter = [&](float amplitude) { return amplitude * (float(nextRandom(&state) >> 8) / 8388608.0f - 1.0f); };
  float amplitude = 1.0f;
  for (int step = side; step > 1; step /= 2, amplitude *= roughness) {
    const int half = step / 2;
    for (int y = half; y < n; y += step)
      for (int x = half; x < n; x += step)
        at(x, y) = (at(x - half, y - half) + at(x + half, y - half) + at(x - half, y + half) +
                    at(x + half, y + half)) / 4 + jitter(amplitude);
    for (int y = 0; y < n; y += half)
      for (int x = (y / half) % 2 ? 0 : half; x < n; x += step) {
        float sum = 0;
        int count = 0;
        if (x >= half) sum += at(x - half, y), ++count;
        if (x + half < n) sum += at(x + half, y), ++count;
        if (y >= half) sum += at(x, y - half), ++count;
        if (y + half < n) sum += at(x, y + half), ++count;
        at(x, y) = sum / float(count) + jitter(amplitude);
      }
  }
  return h;
}

uint8_t clampByte(float value) { return uint8_t(std::clamp(value, 0.0f, 255.0f)); }

}  // namespace

SourcePicture makePlasmaPicture(int side, unsigned seed) {
  SourcePicture p;
  p.side = side;
  const size_t count = p.pixelCount();
  p.red.resize(count), p.green.resize(count), p.blue.resize(count), p.pixels.resize(count * 3);
  p.indices.resize(count), p.topDownIndices.resize(count);
  // Brightness carries most of the detail, two weaker fields the colour; a
  // grain of +-2 levels, as a sensor leaves, keeps runs short.
  const std::vector<float> light = plasma(side, seed, 0.6f), warm = plasma(side, seed + 1, 0.5f),
                           cool = plasma(side, seed + 2, 0.5f);
  uint32_t grain = seed | 1;
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      const size_t grid = size_t(y) * (side + 1) + x, top = size_t(y) * side + x;
      const size_t bottom = size_t(side - 1 - y) * side + x;
      const float l = 128 + 90 * light[grid], noise = float(nextRandom(&grain) % 5) - 2;
      const uint8_t r = clampByte(l + 60 * warm[grid] + noise), g = clampByte(l + noise),
                    b = clampByte(l + 60 * cool[grid] + noise);
      p.red[bottom] = r, p.green[bottom] = g, p.blue[bottom] = b;
      p.pixels[3 * top] = r, p.pixels[3 * top + 1] = g, p.pixels[3 * top + 2] = b;
      p.indices[bottom] = p.topDownIndices[top] = uint8_t((r & 0xe0) | (g & 0xe0) >> 3 | b >> 6);
    }
  for (int i = 0; i < 256; ++i)
    p.map.push_back(picEncodeColour((i >> 5) * 255 / 7, (i >> 2 & 7) * 255 / 7, (i & 3) * 255 / 3));
  return p;
}

// Order: as the tables print. Peers: stb_image reads neither run-length BMP
// nor TIFF, SGI, Sun raster or PCX.
const FileKind fileKinds[] = {
    {"bmp24", "BMP 24-bit", false, true, true, false, PEER_STB},
    {"bmp8rle", "BMP RLE8", true, true, false, false, 0},
    {"gif8", "GIF 8-bit", true, true, false, false, PEER_STB | PEER_GIFLIB},
    {"tiff", "TIFF", false, true, true, false, PEER_LIBTIFF},
    {"tifflzw", "TIFF LZW", false, true, false, false, PEER_LIBTIFF},
    {"tga24", "Targa 24-bit", false, true, true, false, PEER_STB},
    {"tga24rle", "Targa RLE", false, true, false, false, PEER_STB},
    {"sgi", "SGI verbatim", false, true, true, false, 0},
    {"sgirle", "SGI RLE", false, true, false, false, 0},
    {"sun", "Sun raster", false, true, true, false, 0},
    {"sunrle", "Sun raster RLE", false, true, false, false, 0},
    {"pcx24", "PCX 24-bit", false, true, false, false, 0},
    {"jpeg420", "JPEG 4:2:0 q90", false, false, false, false, PEER_STB | PEER_LIBJPEG_LINE | PEER_LIBJPEG_16},
    {"jpeg444", "JPEG 4:4:4 q90", false, false, false, false, PEER_STB | PEER_LIBJPEG_LINE | PEER_LIBJPEG_16},
    {"ppm", "PPM", false, true, true, true, PEER_STB},
    {"png", "PNG", false, true, false, true, PEER_STB | PEER_LIBPNG},
};
const int fileKindCount = int(sizeof fileKinds / sizeof fileKinds[0]);

// The library's JPEG writer works at quality 100 (4:2:0); the peers are
// given the same quality (stb_image_write keeps 4:4:4 above quality 90).
const SaveKind saveKinds[] = {
    {"bmp24", "BMP 24-bit", PIC_DRIVER_BMP, false, false, PEER_STB},
    {"gif8", "GIF 8-bit", PIC_DRIVER_GIF | PIC_COMP_LZW, true, false, PEER_GIFLIB},
    {"tiff", "TIFF", PIC_DRIVER_TIFF, false, false, PEER_LIBTIFF},
    {"tifflzw", "TIFF LZW", PIC_DRIVER_TIFF | PIC_COMP_LZW, false, false, PEER_LIBTIFF},
    {"tga24", "Targa 24-bit", PIC_DRIVER_TARGA, false, false, PEER_STB},
    {"tga24rle", "Targa RLE", PIC_DRIVER_TARGA | PIC_COMP_RLE, false, false, PEER_STB},
    {"jpeg", "JPEG q100", PIC_DRIVER_JPEG | PIC_COMP_RLE, false, false, PEER_STB | PEER_LIBJPEG_LINE},
    {"png", "PNG level 6", PIC_EXTRA_PNG | PIC_COMP_RLE, false, true, PEER_LIBPNG},
};
const int saveKindCount = int(sizeof saveKinds / sizeof saveKinds[0]);

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

std::string memoryName(Bytes& bytes) {
  char name[64];
  picMemoryFileName(name, sizeof name, bytes.data(), int(bytes.size()));
  return name;
}

namespace {

// Saves through the library into memory (the memory file table is current).
Bytes librarySave(const SourcePicture& p, int format, bool mapped) {
  Bytes buffer(p.pixelCount() * 8 + 65536);  // roomy for PCX's doubled bytes
  const std::string name = memoryName(buffer);
  const int status = mapped ? picSaveMap(p.side, p.side, format, p.indices.data(), 256, p.map.data(), name.c_str())
                            : picSaveRGB(p.side, p.side, format, p.red.data(), p.green.data(), p.blue.data(),
                                         name.c_str());
  if (status != PIC_OK) return {};
  buffer.resize(size_t(picMemoryFileLength()));
  buffer.shrink_to_fit();
  return buffer;
}

void putBE16(Bytes& out, size_t at, uint32_t v) { out[at] = uint8_t(v >> 8), out[at + 1] = uint8_t(v); }
void putBE32(Bytes& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}

// SGI run-length rows: literal packets (high bit set) and repeats, at most
// 127 bytes each, a zero count ending the row.
void sgiEncodeRow(const uint8_t* row, int width, Bytes& out) {
  int x = 0;
  while (x < width) {
    int run = 1;
    while (x + run < width && run < 127 && row[x + run] == row[x]) ++run;
    if (run >= 3) {
      out.push_back(uint8_t(run)), out.push_back(row[x]);
      x += run;
      continue;
    }
    int literal = 0;
    while (x + literal < width && literal < 127 &&
           !(x + literal + 2 < width && row[x + literal] == row[x + literal + 1] &&
             row[x + literal] == row[x + literal + 2]))
      ++literal;
    out.push_back(uint8_t(0x80 | literal));
    out.insert(out.end(), row + x, row + x + literal);
    x += literal;
  }
  out.push_back(0);
}

Bytes sgiRunLength(const SourcePicture& p) {
  const size_t rows = size_t(p.side) * 3;
  Bytes out(512 + rows * 8, 0);
  putBE16(out, 0, 474), out[2] = 1, out[3] = 1;  // magic, run-length, one byte a sample
  putBE16(out, 4, 3), putBE16(out, 6, uint32_t(p.side)), putBE16(out, 8, uint32_t(p.side)), putBE16(out, 10, 3);
  putBE32(out, 16, 255);
  const Bytes* planes[3] = {&p.red, &p.green, &p.blue};
  for (size_t channel = 0; channel < 3; ++channel)
    for (size_t y = 0; y < size_t(p.side); ++y) {  // SGI rows go bottom first, as the planes
      const size_t entry = channel * size_t(p.side) + y, start = out.size();
      sgiEncodeRow(planes[channel]->data() + y * size_t(p.side), p.side, out);
      putBE32(out, 512 + 4 * entry, uint32_t(start));
      putBE32(out, 512 + 4 * rows + 4 * entry, uint32_t(out.size() - start));
    }
  return out;
}

// Sun raster type 2: 0x80 escapes a run (0x80, count - 1, value), a lone 0x80
// is 0x80 0x00; one stream over the whole image, BGR, top line first.
Bytes sunRunLength(const SourcePicture& p) {
  Bytes out(32, 0);
  const size_t count = p.pixelCount() * 3;  // 2048 * 3 bytes a line: even, no padding
  Bytes bgr(count);
  for (size_t i = 0; i < count; i += 3) bgr[i] = p.pixels[i + 2], bgr[i + 1] = p.pixels[i + 1], bgr[i + 2] = p.pixels[i];
  for (size_t i = 0; i < count;) {
    size_t run = 1;
    while (i + run < count && run < 256 && bgr[i + run] == bgr[i]) ++run;
    if (run == 1 && bgr[i] == 0x80) {
      out.push_back(0x80), out.push_back(0);
    } else if (run >= 3 || bgr[i] == 0x80) {
      out.push_back(0x80), out.push_back(uint8_t(run - 1)), out.push_back(bgr[i]);
    } else {
      out.insert(out.end(), bgr.begin() + long(i), bgr.begin() + long(i + run));
    }
    i += run;
  }
  putBE32(out, 0, 0x59a66a95u), putBE32(out, 4, uint32_t(p.side)), putBE32(out, 8, uint32_t(p.side));
  putBE32(out, 12, 24), putBE32(out, 16, uint32_t(out.size() - 32)), putBE32(out, 20, 2);
  return out;
}

Bytes jpegFile(const SourcePicture& p, bool subsampled) {
  jpeg_compress_struct compressor;
  jpeg_error_mgr errors;
  compressor.err = jpeg_std_error(&errors);
  jpeg_create_compress(&compressor);
  unsigned char* data = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&compressor, &data, &size);
  compressor.image_width = JDIMENSION(p.side);
  compressor.image_height = JDIMENSION(p.side);
  compressor.input_components = 3;
  compressor.in_color_space = JCS_RGB;
  jpeg_set_defaults(&compressor);
  jpeg_set_quality(&compressor, 90, TRUE);
  if (!subsampled) compressor.comp_info[0].h_samp_factor = compressor.comp_info[0].v_samp_factor = 1;
  jpeg_start_compress(&compressor, TRUE);
  while (compressor.next_scanline < compressor.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(&p.pixels[size_t(compressor.next_scanline) * p.side * 3]);
    jpeg_write_scanlines(&compressor, &row, 1);
  }
  jpeg_finish_compress(&compressor);
  jpeg_destroy_compress(&compressor);
  Bytes out(data, data + size);
  std::free(data);
  return out;
}

// The library's true-colour BMP has 4 zero bytes between header and rows
// (data at offset 58); stb_image refuses that ("bad offset"), so the gap is
// taken out and the rows start at 54, as most writers lay them.
Bytes withoutBmpGap(Bytes file) {
  if (file.size() < 58) return {};
  file.erase(file.begin() + 54, file.begin() + 58);
  const uint32_t size = uint32_t(file.size()), offset = 54;
  for (int i = 0; i < 4; ++i) file[2 + size_t(i)] = uint8_t(size >> 8 * i), file[10 + size_t(i)] = uint8_t(offset >> 8 * i);
  return file;
}

Bytes ppmByHand(const SourcePicture& p) {
  char header[64];
  const int length = std::snprintf(header, sizeof header, "P6\n%d %d\n255\n", p.side, p.side);
  Bytes out(header, header + length);
  out.insert(out.end(), p.pixels.begin(), p.pixels.end());
  return out;
}

}  // namespace

Bytes makeFile(const FileKind& kind, const SourcePicture& p, int extraDrivers) {
  const std::string key = kind.key;
  const bool extra = extraDrivers >= 0;
  if (key == "bmp24") return withoutBmpGap(librarySave(p, PIC_DRIVER_BMP, false));
  if (key == "bmp8rle") return librarySave(p, PIC_DRIVER_BMP | PIC_COMP_RLE, true);
  if (key == "gif8") return librarySave(p, PIC_DRIVER_GIF | PIC_COMP_LZW, true);
  if (key == "tiff") return librarySave(p, PIC_DRIVER_TIFF, false);
  if (key == "tifflzw") return librarySave(p, PIC_DRIVER_TIFF | PIC_COMP_LZW, false);
  if (key == "tga24") return librarySave(p, PIC_DRIVER_TARGA, false);
  if (key == "tga24rle") return librarySave(p, PIC_DRIVER_TARGA | PIC_COMP_RLE, false);
  if (key == "sgi") return librarySave(p, PIC_DRIVER_SGI, false);
  if (key == "sgirle") return sgiRunLength(p);
  if (key == "sun") return librarySave(p, PIC_DRIVER_SUN, false);
  if (key == "sunrle") return sunRunLength(p);
  if (key == "pcx24") return librarySave(p, PIC_DRIVER_PCX | PIC_COMP_RLE, false);
  if (key == "jpeg420" || key == "jpeg444") return jpegFile(p, key == "jpeg420");
  if (key == "ppm") return extra ? librarySave(p, extraDrivers + PIC_EXTRA_PNM, false) : ppmByHand(p);
  if (key == "png") {
    if (extra) return librarySave(p, (extraDrivers + PIC_EXTRA_PNG) | PIC_COMP_RLE, false);
    Bytes out;
    libpngSave(p.pixels.data(), p.side, p.side, &out);
    return out;
  }
  return {};
}
