#include "libpng_peer.h"

#include <csetjmp>

namespace {

[[noreturn]] void jumpOut(png_structp png, png_const_charp) { longjmp(png_jmpbuf(png), 1); }
void quiet(png_structp, png_const_charp) {}
void appendBytes(png_structp png, png_bytep bytes, size_t n) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), bytes, bytes + n);
}
void noFlush(png_structp) {}

}  // namespace

// A plain frame: libpng may jump out of it.
bool libpngWrite(const PngLayout& layout, png_bytepp rows, const png_color* palette, int entries,
                 std::vector<uint8_t>* out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, jumpOut, quiet);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, out, appendBytes, noFlush);
  png_set_filter(png, 0, layout.filterMask);
  png_set_IHDR(png, info, png_uint_32(layout.width), png_uint_32(layout.height), layout.depth, layout.colourType,
               layout.interlace, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (entries > 0) png_set_PLTE(png, info, palette, entries);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}
