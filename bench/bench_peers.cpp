// Peer decoders and encoders. libjpeg and libpng leave through longjmp on an
// error, so the frames they can leave hold plain data only.
#include "bench_peers.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>
#include <tiffio.h>

#include "picture/core/picture.h"

namespace {

// ---- A memory stream for libtiff, giflib and libpng callbacks.

struct Stream {
  const uint8_t* data;  // reading
  Bytes* out;           // writing (grows; seeks may go back)
  size_t size, position;
};

Stream readingStream(const Bytes& file) { return {file.data(), nullptr, file.size(), 0}; }
Stream writingStream(Bytes* out) {
  out->clear();
  return {nullptr, out, 0, 0};
}

size_t readFrom(Stream* s, void* buffer, size_t n) {
  if (n > s->size - s->position) n = s->size - s->position;
  std::memcpy(buffer, s->data + s->position, n);
  s->position += n;
  return n;
}

// Overwrites what is there and appends the rest: no zero-fill of bytes about to be written.
void writeTo(Stream* s, const void* buffer, size_t n) {
  Bytes& out = *s->out;
  if (s->position > out.size()) out.resize(s->position);  // a seek past the end leaves a gap of zeros
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  const size_t inside = std::min(n, out.size() - s->position);
  std::memcpy(out.data() + s->position, bytes, inside);
  out.insert(out.end(), bytes + inside, bytes + n);
  s->position += n;
}

// ---- libtiff's client procedures.

tmsize_t tiffRead(thandle_t h, void* buffer, tmsize_t n) {
  return tmsize_t(readFrom(static_cast<Stream*>(h), buffer, size_t(n)));
}
tmsize_t tiffWrite(thandle_t h, void* buffer, tmsize_t n) {
  writeTo(static_cast<Stream*>(h), buffer, size_t(n));
  return n;
}
toff_t tiffSize(thandle_t h) {
  const Stream* s = static_cast<Stream*>(h);
  return s->out ? s->out->size() : s->size;
}
toff_t tiffSeek(thandle_t h, toff_t offset, int whence) {
  Stream* s = static_cast<Stream*>(h);
  const toff_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? s->position : tiffSize(h);
  s->position = size_t(base + offset);
  return s->position;
}
int tiffClose(thandle_t) { return 0; }
// Reading maps the buffer itself, as TIFFOpen maps a file.
int tiffMap(thandle_t h, void** base, toff_t* size) {
  Stream* s = static_cast<Stream*>(h);
  if (s->out) return 0;
  *base = const_cast<uint8_t*>(s->data);
  *size = s->size;
  return 1;
}
void tiffUnmap(thandle_t, void*, toff_t) {}

TIFF* tiffOpen(Stream* s, const char* mode) {
  return TIFFClientOpen("memory", mode, s, tiffRead, tiffWrite, tiffSeek, tiffClose, tiffSize, tiffMap, tiffUnmap);
}

// ---- giflib's and stb_image_write's output functions.

int gifRead(GifFileType* gif, GifByteType* buffer, int n) {
  return int(readFrom(static_cast<Stream*>(gif->UserData), buffer, size_t(n)));
}
int gifWrite(GifFileType* gif, const GifByteType* buffer, int n) {
  writeTo(static_cast<Stream*>(gif->UserData), buffer, size_t(n));
  return n;
}
void stbWrite(void* context, void* data, int size) {
  Bytes* out = static_cast<Bytes*>(context);
  out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
}

// ---- libjpeg with an error exit that returns here.

struct JpegErrors {
  jpeg_error_mgr manager;
  jmp_buf recoveryPoint;
};
void jpegErrorExit(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->recoveryPoint, 1); }

// ---- libpng through the memory stream.

void pngRead(png_structp png, png_bytep buffer, png_size_t n) {
  if (readFrom(static_cast<Stream*>(png_get_io_ptr(png)), buffer, n) != n) png_error(png, "file cut short");
}
void pngWrite(png_structp png, png_bytep buffer, png_size_t n) {
  writeTo(static_cast<Stream*>(png_get_io_ptr(png)), buffer, n);
}
void pngFlush(png_structp) {}

}  // namespace

bool stbLoad(const PeerInput& file, Bytes* copy) {
  int width = 0, height = 0, channels = 0;
  stbi_uc* pixels = file.path.empty()
                        ? stbi_load_from_memory(file.bytes.data(), int(file.bytes.size()), &width, &height, &channels, 3)
                        : stbi_load(file.path.c_str(), &width, &height, &channels, 3);
  if (!pixels) return false;
  if (copy) copy->assign(pixels, pixels + size_t(width) * size_t(height) * 3);
  stbi_image_free(pixels);
  return true;
}

bool libjpegLoad(const PeerInput& file, int linesPerCall, uint8_t* pixels) {
  FILE* disk = file.path.empty() ? nullptr : std::fopen(file.path.c_str(), "rb");
  if (!file.path.empty() && !disk) return false;
  jpeg_decompress_struct decompressor;
  JpegErrors errors;
  decompressor.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = jpegErrorExit;
  if (setjmp(errors.recoveryPoint)) {
    jpeg_destroy_decompress(&decompressor);
    if (disk) std::fclose(disk);
    return false;
  }
  jpeg_create_decompress(&decompressor);
  if (disk)
    jpeg_stdio_src(&decompressor, disk);
  else
    jpeg_mem_src(&decompressor, file.bytes.data(), static_cast<unsigned long>(file.bytes.size()));
  jpeg_read_header(&decompressor, TRUE);
  decompressor.out_color_space = JCS_RGB;
  jpeg_start_decompress(&decompressor);
  const size_t rowBytes = size_t(decompressor.output_width) * 3;
  JSAMPROW rows[16];
  while (decompressor.output_scanline < decompressor.output_height) {
    for (int i = 0; i < linesPerCall; ++i) rows[i] = pixels + (decompressor.output_scanline + size_t(i)) * rowBytes;
    const JDIMENSION left = decompressor.output_height - decompressor.output_scanline;
    jpeg_read_scanlines(&decompressor, rows, left < JDIMENSION(linesPerCall) ? left : JDIMENSION(linesPerCall));
  }
  jpeg_finish_decompress(&decompressor);
  jpeg_destroy_decompress(&decompressor);
  if (disk) std::fclose(disk);
  return true;
}

bool libtiffLoad(const PeerInput& file, uint8_t* pixels) {
  Stream stream = readingStream(file.bytes);
  // TIFFOpen maps the file; the memory client maps the buffer (tiffMap).
  TIFF* tiff = file.path.empty() ? tiffOpen(&stream, "r") : TIFFOpen(file.path.c_str(), "r");
  if (!tiff) return false;
  bool ok = true;
  uint8_t* at = pixels;
  for (tstrip_t strip = 0; strip < TIFFNumberOfStrips(tiff) && ok; ++strip) {
    const tmsize_t got = TIFFReadEncodedStrip(tiff, strip, at, tmsize_t(-1));
    ok = got >= 0;
    at += got;
  }
  TIFFClose(tiff);
  return ok;
}

bool giflibLoad(const PeerInput& file, Bytes* pixels) {
  Stream stream = readingStream(file.bytes);
  int error = 0;
  GifFileType* gif = file.path.empty() ? DGifOpen(&stream, gifRead, &error) : DGifOpenFileName(file.path.c_str(), &error);
  if (!gif) return false;
  const bool ok = DGifSlurp(gif) == GIF_OK && gif->ImageCount > 0;
  if (ok && pixels) {
    const SavedImage& image = gif->SavedImages[0];
    const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
    const size_t count = size_t(image.ImageDesc.Width) * size_t(image.ImageDesc.Height);
    pixels->resize(3 * count);
    for (size_t i = 0; i < count && map; ++i) {
      const GifColorType colour = map->Colors[image.RasterBits[i] % map->ColorCount];
      (*pixels)[3 * i] = colour.Red, (*pixels)[3 * i + 1] = colour.Green, (*pixels)[3 * i + 2] = colour.Blue;
    }
  }
  DGifCloseFile(gif, &error);
  return ok;
}

bool libpngLoad(const PeerInput& file, uint8_t* pixels) {
  Stream stream = readingStream(file.bytes);
  FILE* disk = file.path.empty() ? nullptr : std::fopen(file.path.c_str(), "rb");
  if (!file.path.empty() && !disk) return false;
  png_bytep* volatile rows = nullptr;  // freed after a longjmp too
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::free(rows);
    if (disk) std::fclose(disk);
    return false;
  }
  if (disk)
    png_init_io(png, disk);
  else
    png_set_read_fn(png, &stream, pngRead);
  png_read_info(png, info);
  png_set_palette_to_rgb(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const size_t rowBytes = png_get_rowbytes(png, info);
  rows = static_cast<png_bytep*>(std::malloc(height * sizeof(png_bytep)));
  if (!rows) png_error(png, "no memory for rows");
  for (png_uint_32 y = 0; y < height; ++y) rows[y] = pixels + y * rowBytes;
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::free(rows);
  if (disk) std::fclose(disk);
  return true;
}

bool stbSaveBmp(const uint8_t* pixels, int width, int height, Bytes* out) {
  out->clear();
  return stbi_write_bmp_to_func(stbWrite, out, width, height, 3, pixels) != 0;
}

bool stbSaveTga(const uint8_t* pixels, int width, int height, bool runLength, Bytes* out) {
  out->clear();
  stbi_write_tga_with_rle = runLength ? 1 : 0;
  return stbi_write_tga_to_func(stbWrite, out, width, height, 3, pixels) != 0;
}

bool stbSaveJpeg(const uint8_t* pixels, int width, int height, int quality, Bytes* out) {
  out->clear();
  return stbi_write_jpg_to_func(stbWrite, out, width, height, 3, pixels, quality) != 0;
}

bool libjpegSave(const uint8_t* pixels, int width, int height, int quality, Bytes* out) {
  jpeg_compress_struct compressor;
  JpegErrors errors;
  compressor.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = jpegErrorExit;
  // The reused buffer as destination; libjpeg allocates a larger one only
  // when the file outgrows it.
  out->resize(size_t(width) * size_t(height) * 3 + 65536);
  unsigned char* data = out->data();
  unsigned long size = static_cast<unsigned long>(out->size());
  if (setjmp(errors.recoveryPoint)) {
    jpeg_destroy_compress(&compressor);
    if (data != out->data()) std::free(data);
    return false;
  }
  jpeg_create_compress(&compressor);
  jpeg_mem_dest(&compressor, &data, &size);
  compressor.image_width = JDIMENSION(width);
  compressor.image_height = JDIMENSION(height);
  compressor.input_components = 3;
  compressor.in_color_space = JCS_RGB;
  jpeg_set_defaults(&compressor);
  jpeg_set_quality(&compressor, quality, TRUE);
  jpeg_start_compress(&compressor, TRUE);
  while (compressor.next_scanline < compressor.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(pixels + size_t(compressor.next_scanline) * size_t(width) * 3);
    jpeg_write_scanlines(&compressor, &row, 1);
  }
  jpeg_finish_compress(&compressor);
  jpeg_destroy_compress(&compressor);
  if (data != out->data()) {
    out->assign(data, data + size);
    std::free(data);
  } else {
    out->resize(size);
  }
  return true;
}

bool libtiffSave(const uint8_t* pixels, int width, int height, int compression, Bytes* out) {
  Stream stream = writingStream(out);
  TIFF* tiff = tiffOpen(&stream, "w");
  if (!tiff) return false;
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression == PIC_COMP_LZW   ? COMPRESSION_LZW
                                           : compression == PIC_COMP_RLE ? COMPRESSION_PACKBITS
                                                                         : COMPRESSION_NONE);
  const uint32_t rowsPerStrip = TIFFDefaultStripSize(tiff, 0);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
  const size_t rowBytes = size_t(width) * 3;
  bool ok = true;
  for (uint32_t row = 0, strip = 0; row < uint32_t(height) && ok; row += rowsPerStrip, ++strip) {
    const uint32_t rows = uint32_t(height) - row < rowsPerStrip ? uint32_t(height) - row : rowsPerStrip;
    ok = TIFFWriteEncodedStrip(tiff, strip, const_cast<uint8_t*>(pixels + row * rowBytes),
                               tmsize_t(rows * rowBytes)) >= 0;
  }
  TIFFClose(tiff);
  return ok;
}

bool giflibSave(const uint8_t* indices, int width, int height, const int32_t* map, Bytes* out) {
  Stream stream = writingStream(out);
  GifColorType colours[256];
  for (int i = 0; i < 256; ++i)
    colours[i] = {GifByteType(map[i] >> 16), GifByteType(map[i] >> 8), GifByteType(map[i])};
  int error = 0;
  GifFileType* gif = EGifOpen(&stream, gifWrite, &error);
  if (!gif) return false;
  ColorMapObject* colourMap = GifMakeMapObject(256, colours);
  bool ok = colourMap && EGifPutScreenDesc(gif, width, height, 8, 0, colourMap) == GIF_OK &&
            EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK &&
            EGifPutLine(gif, const_cast<GifPixelType*>(indices), width * height) == GIF_OK;
  GifFreeMapObject(colourMap);
  ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
  return ok;
}

bool libpngSave(const uint8_t* pixels, int width, int height, int level, Bytes* out) {
  Stream stream = writingStream(out);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &stream, pngWrite, pngFlush);
  png_set_compression_level(png, level);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) png_write_row(png, pixels + size_t(y) * size_t(width) * 3);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}
