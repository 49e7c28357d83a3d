// Files the library's writers do not make, encoded here from the picture:
// run-length SGI and Sun raster (the library writes those formats plain),
// JPEG at a chosen sampling (libjpeg, quality 90), PNG variants (libpng:
// level 6, palette, Adam7), and the true-colour BMP without its gap.
#include "bench_encoders.h"

#include <csetjmp>
#include <cstdlib>

#include <jpeglib.h>
#include <png.h>

namespace {

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

// Leaves through longjmp on an error: the frames it can leave hold plain data.
void pngError(png_structp png, png_const_charp) { std::longjmp(png_jmpbuf(png), 1); }
void pngAppend(png_structp png, png_bytep data, png_size_t n) {
  Bytes* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}
void pngFlush(png_structp) {}

}  // namespace

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

namespace {

// What writePng needs, gathered so that its frame holds nothing setjmp could clobber.
struct PngJob {
  const SourcePicture* picture;
  PngLayout layout;
  png_color colours[256];
  Bytes* out;
};

// The frames libpng may leave by longjmp (its own and pngAppend's) hold no
// object with a destructor.
bool writePng(PngJob* job) {
  const SourcePicture& p = *job->picture;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  const bool palette = job->layout == PngLayout::palette;
  png_set_write_fn(png, job->out, pngAppend, pngFlush);
  png_set_compression_level(png, 6);
  png_set_IHDR(png, info, png_uint_32(p.side), png_uint_32(p.side), 8,
               palette ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB,
               job->layout == PngLayout::adam7 ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (palette) png_set_PLTE(png, info, job->colours, 256);
  png_write_info(png, info);
  const int passes = png_set_interlace_handling(png);
  const size_t rowBytes = size_t(p.side) * (palette ? 1 : 3);
  const uint8_t* rows = palette ? p.topDownIndices.data() : p.pixels.data();
  for (int pass = 0; pass < passes; ++pass)
    for (int y = 0; y < p.side; ++y) png_write_row(png, rows + size_t(y) * rowBytes);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

Bytes pngFile(const SourcePicture& p, PngLayout layout) {
  Bytes out;
  PngJob job{&p, layout, {}, &out};
  for (int i = 0; i < 256; ++i)
    job.colours[i] = {png_byte(p.map[size_t(i)] >> 16), png_byte(p.map[size_t(i)] >> 8), png_byte(p.map[size_t(i)])};
  return writePng(&job) ? out : Bytes();
}
