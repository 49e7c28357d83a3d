// Resource bounds against hostile files: the pixel limit, the memory a load
// takes inside the library, loads of files that end after a header claiming a
// huge picture, and indices that reach past a file's palette. Every format,
// through the public operations.
//
// Memory is counted by a hook on the heap: in a sanitized build the
// sanitizer's allocation hooks, otherwise malloc and its relatives defined
// here in front of the C library's. Both see libjpeg, libtiff and libpng too.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/mman.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "picture/core/extra_drivers.h"
#include "picture/core/format_info.h"
#include "picture/core/picture.h"
#include "picture/core/registry.h"
#include "support/image_peer.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LIMITS_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define LIMITS_TEST_ASAN 1
#endif

#if LIMITS_TEST_ASAN
// The sanitizer run-time's allocation interface (GCC installs no header for it).
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void*, size_t),
                                              void (*freeHook)(const volatile void*));
size_t __sanitizer_get_allocated_size(const volatile void* pointer);
}
#endif

namespace {

// ---- Heap accounting: bytes live now, and the most live since the last reset.

size_t liveBytes = 0;
size_t peakBytes = 0;

void noteAllocation(size_t bytes) {
  liveBytes += bytes;
  peakBytes = std::max(peakBytes, liveBytes);
}
void noteRelease(size_t bytes) { liveBytes -= std::min(bytes, liveBytes); }

}  // namespace

#if LIMITS_TEST_ASAN
namespace {
void mallocHook(const volatile void*, size_t size) { noteAllocation(size); }
void freeHook(const volatile void* pointer) {
  noteRelease(__sanitizer_get_allocated_size(pointer));
}
const int hooksInstalled = __sanitizer_install_malloc_and_free_hooks(mallocHook, freeHook);
}  // namespace
#else
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);

void* malloc(size_t size) noexcept {
  void* pointer = __libc_malloc(size);
  if (pointer) noteAllocation(malloc_usable_size(pointer));
  return pointer;
}
void* calloc(size_t count, size_t size) noexcept {
  void* pointer = __libc_calloc(count, size);
  if (pointer) noteAllocation(malloc_usable_size(pointer));
  return pointer;
}
void* realloc(void* old, size_t size) noexcept {
  const size_t oldBytes = old ? malloc_usable_size(old) : 0;
  void* pointer = __libc_realloc(old, size);
  if (pointer || size == 0) noteRelease(oldBytes);
  if (pointer) noteAllocation(malloc_usable_size(pointer));
  return pointer;
}
void* memalign(size_t alignment, size_t size) noexcept {
  void* pointer = __libc_memalign(alignment, size);
  if (pointer) noteAllocation(malloc_usable_size(pointer));
  return pointer;
}
void* aligned_alloc(size_t alignment, size_t size) noexcept { return memalign(alignment, size); }
int posix_memalign(void** result, size_t alignment, size_t size) noexcept {
  *result = memalign(alignment, size);
  return *result ? 0 : ENOMEM;
}
void free(void* pointer) noexcept {
  if (pointer) noteRelease(malloc_usable_size(pointer));
  __libc_free(pointer);
}
}
namespace {
const int hooksInstalled = 1;
}  // namespace
#endif

namespace {

// The most heap the library may take for a load of a picture `width` wide
// from a file of `fileBytes`: a few dozen lines of 4-byte pixels, what the
// file could expand to (deflate's 1032 to 1, a progressive JPEG's 1024
// coefficient bytes a file byte), and the codecs' fixed state.
size_t heapBound(int width, size_t fileBytes) {
  return size_t(64) * size_t(width) * 4 + 1100 * fileBytes + (size_t(20) << 20);
}

// ---- Files whose header claims width x height and whose data is absent or cut short.

using Bytes = std::vector<uint8_t>;

void put16le(Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void put32le(Bytes& b, uint32_t v) { put16le(b, v & 0xffff); put16le(b, v >> 16); }
void put16be(Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)}); }
void put32be(Bytes& b, uint32_t v) { put16be(b, v >> 16); put16be(b, v & 0xffff); }
void putText(Bytes& b, const std::string& text) { b.insert(b.end(), text.begin(), text.end()); }

Bytes bmpFile(int width, int height, bool rle) {
  Bytes b = {'B', 'M'};
  const uint32_t paletteBytes = rle ? 8 : 0;
  put32le(b, 0);                          // file size: unused
  put32le(b, 0);                          // reserved
  put32le(b, 54 + paletteBytes);          // data offset
  put32le(b, 40);                         // information header
  put32le(b, uint32_t(width));
  put32le(b, uint32_t(height));
  put16le(b, 1);                          // planes
  put16le(b, rle ? 8 : 24);               // bits per pixel
  put32le(b, rle ? 1 : 0);                // compression
  for (int i = 0; i < 3; ++i) put32le(b, 0);  // image size, resolution
  put32le(b, rle ? 2 : 0);                // colours used
  put32le(b, 0);                          // important colours
  if (rle) b.insert(b.end(), {0, 0, 0, 0, 255, 255, 255, 0, /* rows: */ 4, 1, 0, 0, 4, 1, 0, 0});
  return b;
}

Bytes pcxFile(int width, int height, bool rle) {
  Bytes b(128, 0);
  b[0] = 10, b[1] = 5, b[2] = rle, b[3] = 8;  // manufacturer, version, encoding, bits
  b[8] = uint8_t(width - 1), b[9] = uint8_t((width - 1) >> 8);     // xmax
  b[10] = uint8_t(height - 1), b[11] = uint8_t((height - 1) >> 8); // ymax
  b[65] = 3;                                                       // planes: true colour
  b[66] = uint8_t(width), b[67] = uint8_t(width >> 8);             // bytes per line
  if (rle) b.insert(b.end(), {0xc3, 7, 0xff, 9});                   // a few runs, then nothing
  return b;
}

// One strip of the whole picture or, with `stripRows` 1, a strip per row
// whose offset and byte count arrays lie past the end of the file.
Bytes tiffFile(int width, int height, uint16_t compression, int stripRows = 0) {
  Bytes b = {'I', 'I', 42, 0};
  put32le(b, 8);  // first directory
  const int entries = 9;
  put16le(b, entries);
  const uint32_t dataOffset = 8 + 2 + 12 * entries + 4;
  const uint32_t strips = stripRows ? uint32_t(height / stripRows) : 1;
  auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) {
    const bool stripArray = (tag == 273 || tag == 279) && strips > 1;
    put16le(b, tag);
    put16le(b, type);
    put32le(b, stripArray ? strips : 1);
    if (type == 3) {
      put16le(b, value);
      put16le(b, 0);
    } else {
      put32le(b, value);
    }
  };
  entry(256, 4, uint32_t(width));
  entry(257, 4, uint32_t(height));
  entry(258, 3, 8);            // bits per sample
  entry(259, 3, compression);
  entry(262, 3, 1);            // min-is-black
  entry(273, 4, dataOffset);   // one strip
  entry(277, 3, 1);            // samples per pixel
  entry(278, 4, uint32_t(stripRows ? stripRows : height));
  entry(279, 4, uint32_t(int64_t(width) * height > 0xffffffffLL ? 0xffffffffu : uint32_t(width) * uint32_t(height)));
  put32le(b, 0);  // no next directory
  b.insert(b.end(), {0x81, 0, 0x81, 0});  // PackBits: two runs of 128 zeros; raw: four pixels
  return b;
}

Bytes sunFile(int width, int height, bool rle) {
  Bytes b;
  put32be(b, 0x59a66a95);
  put32be(b, uint32_t(width));
  put32be(b, uint32_t(height));
  put32be(b, 24);            // depth
  put32be(b, 0);             // length
  put32be(b, rle ? 2 : 1);   // type
  put32be(b, 0);             // no map
  put32be(b, 0);
  if (rle) b.insert(b.end(), {0x80, 0xff, 7, 0x80, 0xff, 9});  // two runs of 256
  return b;
}

Bytes sgiFile(int width, int height, bool rle) {
  Bytes b;
  put16be(b, 474);
  b.insert(b.end(), {uint8_t(rle), 1});  // storage, bytes per sample
  put16be(b, 3);                         // dimension
  put16be(b, uint32_t(width));
  put16be(b, uint32_t(height));
  put16be(b, 3);                         // channels
  put32be(b, 0);
  put32be(b, 255);
  b.resize(512, 0);
  return b;
}

// A baseline or progressive greyscale JPEG: tables, frame and scan header;
// `dataBytes` zero bytes of scan data follow and the file ends.
Bytes jpegFile(int width, int height, bool progressive, size_t dataBytes) {
  Bytes b = {0xFF, 0xD8, 0xFF, 0xDB, 0, 67, 0};  // quantisation table 0: all 1
  b.insert(b.end(), 64, 1);
  b.insert(b.end(), {0xFF, uint8_t(progressive ? 0xC2 : 0xC0), 0, 11, 8});
  put16be(b, uint32_t(height));
  put16be(b, uint32_t(width));
  b.insert(b.end(), {1, 1, 0x11, 0});  // one component, 1x1, table 0
  for (uint8_t tableClass : {0x00, 0x10}) {  // DC and AC table 0: one 1-bit code, for symbol 0
    b.insert(b.end(), {0xFF, 0xC4, 0, 20, tableClass, 1});
    b.insert(b.end(), 15, 0);
    b.push_back(0);
  }
  if (progressive)
    b.insert(b.end(), {0xFF, 0xDA, 0, 8, 1, 1, 0x00, 0, 0, 0});   // DC first scan
  else
    b.insert(b.end(), {0xFF, 0xDA, 0, 8, 1, 1, 0x00, 0, 63, 0});  // the whole baseline scan
  b.insert(b.end(), dataBytes, 0);
  return b;
}

Bytes targaFile(int width, int height, bool rle) {
  Bytes b = {0, 0, uint8_t(rle ? 10 : 2), 0, 0, 0, 0, 0, 0, 0, 0, 0};  // true colour, no map
  put16le(b, uint32_t(width));
  put16le(b, uint32_t(height));
  b.insert(b.end(), {24, 0x20});  // depth, top line first
  if (rle) b.insert(b.end(), {0xff, 1, 2, 3});  // a run of 128 pixels
  return b;
}

Bytes pnmFile(int width, int height, bool plain) {
  Bytes b;
  putText(b, std::string(plain ? "P3\n" : "P6\n") + std::to_string(width) + " " + std::to_string(height) +
                 "\n255\n" + (plain ? "1 2 3 4 5 6" : "abcdef"));
  return b;
}

Bytes pngFile(int width, int height, bool interlaced) {
  Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  Bytes chunk = {'I', 'H', 'D', 'R'};
  put32be(chunk, uint32_t(width));
  put32be(chunk, uint32_t(height));
  chunk.insert(chunk.end(), {8, 2, 0, 0, uint8_t(interlaced)});  // 8-bit RGB
  put32be(b, 13);
  b.insert(b.end(), chunk.begin(), chunk.end());
  put32be(b, uint32_t(crc32(0, chunk.data(), uInt(chunk.size()))));
  put32be(b, 1000);  // image data that ends after its first bytes
  b.insert(b.end(), {'I', 'D', 'A', 'T', 0x78, 0x01});
  return b;
}

struct Hostile {
  const char* name;
  int format;  // expected driver index
  Bytes (*build)(int width, int height);
};

const int pnmIndex = picRegisterExtraDrivers();

// Every format's minimal header, from the library's list, then the variants
// of formats that read more than one way.
std::vector<Hostile> makeHostileFiles() {
  std::vector<Hostile> files;
  int count = 0;
  const picFormatInfo* const* formats = picFormatList(&count);
  for (int i = 0; i < count; ++i) files.push_back({formats[i]->name, picFormatDriverIndex(*formats[i]), formats[i]->minimalHeader});
  const Hostile variants[] = {
      {"bmp rle", PIC_DRIVER_BMP, [](int w, int h) { return bmpFile(w, h, true); }},
      {"pcx rle", PIC_DRIVER_PCX, [](int w, int h) { return pcxFile(w, h, true); }},
      {"tiff packbits", PIC_DRIVER_TIFF, [](int w, int h) { return tiffFile(w, h, 32773); }},
      {"tiff lzw", PIC_DRIVER_TIFF, [](int w, int h) { return tiffFile(w, h, 5); }},
      {"sun rle", PIC_DRIVER_SUN, [](int w, int h) { return sunFile(w, h, true); }},
      {"sgi rle", PIC_DRIVER_SGI, [](int w, int h) { return sgiFile(w, h, true); }},
      {"jpeg progressive", PIC_DRIVER_JPEG, [](int w, int h) { return jpegFile(w, h, true, 16); }},
      {"tga rle", PIC_DRIVER_TARGA, [](int w, int h) { return targaFile(w, h, true); }},
      {"pnm plain", pnmIndex + PIC_EXTRA_PNM, [](int w, int h) { return pnmFile(w, h, true); }},
      {"png interlaced", pnmIndex + PIC_EXTRA_PNG, [](int w, int h) { return pngFile(w, h, true); }},
  };
  files.insert(files.end(), std::begin(variants), std::end(variants));
  return files;
}
const std::vector<Hostile> hostileFiles = makeHostileFiles();

int driverOf(const Hostile& file) { return file.format; }

std::string writeHostile(const Hostile& file, int width, int height) {
  std::string name = std::string("limits-") + file.name + ".bin";
  std::replace(name.begin(), name.end(), ' ', '-');
  return writeTempFile(name, file.build(width, height));
}

// Sets the pixel limit for one test and puts the default back after it.
class PixelLimit : public testing::Test {
 protected:
  void TearDown() override { picSetPixelLimit(PIC_DEFAULT_PIXEL_LIMIT); }
};

TEST_F(PixelLimit, DefaultHoldsASixteenByEightKPictureAndIsChangedBySet) {
  EXPECT_EQ(int64_t(1) << 27, picGetPixelLimit());
  EXPECT_EQ(int64_t(16384) * 8192, picGetPixelLimit());
  picSetPixelLimit(1000);
  EXPECT_EQ(1000, picGetPixelLimit());
  picSetPixelLimit(-5);  // ignored
  EXPECT_EQ(1000, picGetPixelLimit());
  picSetPixelLimit(0);
  EXPECT_EQ(0, picGetPixelLimit());
}

// Over the limit: the driver itself describes the file and refuses it with
// PIC_ERR_DATA, having allocated nothing the header sizes; picImageInfo
// answers PIC_ERR_DATA, the format is still named, and both loads are refused
// before a row is written (the planes given are one byte long). At the limit
// exactly: described as usual.
TEST_F(PixelLimit, HeadersOverTheLimitAreDescribedAndRefusedByEveryDriver) {
  for (const Hostile& hostile : hostileFiles) {
    SCOPED_TRACE(hostile.name);
    const std::string over = writeHostile(hostile, 16384, 8193);
    const picDriver* driver = picDriverAt(driverOf(hostile));
    ASSERT_NE(nullptr, driver);
    int status = -2;
    const size_t before = liveBytes;
    peakBytes = liveBytes;
    picFile* file = driver->openRead(over.c_str(), &status);
    EXPECT_LE(peakBytes - before, heapBound(0, 0));
    EXPECT_EQ(PIC_ERR_DATA, status);
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(16384, file->width);
    driver->close(file);

    int width = 0, height = 0, format = -1;
    EXPECT_EQ(PIC_ERR_DATA, picImageInfo(over.c_str(), &width, &height, nullptr, nullptr));
    EXPECT_EQ(16384, width);
    EXPECT_EQ(8193, height);
    EXPECT_EQ(PIC_OK, picFileFormat(over.c_str(), &format));
    EXPECT_EQ(driverOf(hostile), format & 0xff);
    uint8_t red = 0, green = 0, blue = 0;
    int32_t map[PIC_MAX_COLOURS];
    EXPECT_EQ(PIC_ERR_DATA, picLoadRGB(over.c_str(), &red, &green, &blue));
    EXPECT_EQ(PIC_ERR_DATA, picLoadMap(over.c_str(), &red, map));

    const std::string at = writeHostile(hostile, 16384, 8192);
    EXPECT_EQ(PIC_OK, picImageInfo(at.c_str(), &width, &height, nullptr, nullptr));
    EXPECT_EQ(8192, height);
  }
}

TEST_F(PixelLimit, ASmallerLimitRefusesOnePixelMore) {
  picSetPixelLimit(1000);
  for (const Hostile& hostile : hostileFiles) {
    SCOPED_TRACE(hostile.name);
    EXPECT_EQ(PIC_OK, picImageInfo(writeHostile(hostile, 100, 10).c_str(), nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(PIC_ERR_DATA, picImageInfo(writeHostile(hostile, 1001, 1).c_str(), nullptr, nullptr, nullptr, nullptr));
  }
  // Writing has no limit.
  const std::vector<uint8_t> row(2000, 7);
  EXPECT_EQ(PIC_OK, picSaveRGB(2000, 1, PIC_DRIVER_BMP, row.data(), row.data(), row.data(),
                               tempPath("limits-wide.bmp").c_str()));
}

// Planes of a claimed size, mapped but not committed: only rows a load writes
// cost memory.
class ClaimedPlanes {
 public:
  explicit ClaimedPlanes(size_t bytes) : bytes_(bytes) {
    void* p = mmap(nullptr, 3 * bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    base_ = p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
  }
  ~ClaimedPlanes() {
    if (base_) munmap(base_, 3 * bytes_);
  }
  uint8_t* plane(int k) const { return base_ ? base_ + size_t(k) * bytes_ : nullptr; }

 private:
  size_t bytes_;
  uint8_t* base_;
};

int linesDelivered = 0;
const int lineAllowance = 200;  // far more than any of these files holds

// Counts the lines a load delivers; stops a load that goes on over absent data.
int countLines(const char*, int, int) { return ++linesDelivered > lineAllowance ? 1 : 0; }

// With the limit lifted, a 30000 x 30000 picture that ends after its header
// (or after a few bytes of data) ends the load with an error at once: no line
// past the data, no memory beyond a few lines and what the file holds. A
// driver that filled the absent lines would be stopped by the line counter;
// one that allocated for the claimed picture shows in the heap's peak.
TEST_F(PixelLimit, HugeClaimsThatEndEarlyFailFastInLittleMemory) {
  ASSERT_TRUE(hooksInstalled);
  picSetPixelLimit(0);
  const int side = 30000;
  ClaimedPlanes planes(size_t(side) * side);
  ASSERT_NE(nullptr, planes.plane(0));
  picSetProgressCallback(countLines);
  for (const Hostile& hostile : hostileFiles) {
    SCOPED_TRACE(hostile.name);
    const Bytes bytes = hostile.build(side, side);
    const std::string path = writeHostile(hostile, side, side);
    linesDelivered = 0;
    const size_t before = liveBytes;
    peakBytes = liveBytes;
    const int status = picLoadRGB(path.c_str(), planes.plane(0), planes.plane(1), planes.plane(2));
    const size_t peak = peakBytes - before;
    EXPECT_TRUE(status == PIC_ERR_READ || status == PIC_ERR_DATA) << "status " << status;
    EXPECT_LE(linesDelivered, 64);  // JPEG: lines of libjpeg's grey up to a megapixel
    EXPECT_LE(peak, heapBound(side, bytes.size())) << "peak heap " << peak;
  }
  picSetProgressCallback(nullptr);
}

// Under the default limit, a tiny progressive JPEG claiming 8000 x 8000 would
// have libjpeg hold every coefficient (128 MB); a BMP of a few bytes claiming
// 37 x 4 million pixels is the other classic; a PNG claims an interlaced
// picture held whole, a TIFF thirty million strips. None may cost more than
// the file can justify, whether it is refused or described.
TEST_F(PixelLimit, TinyFilesClaimingLargePicturesUnderTheLimitTakeLittleMemory) {
  const struct {
    const char* name;
    Bytes bytes;
    int width;  // as described
  } cases[] = {
      {"progressive.jpg", jpegFile(8000, 8000, true, 64), 8000},
      {"tall.bmp", bmpFile(37, 4000000, true), 37},
      {"wide.png", pngFile(100000, 1000, true), 100000},
      {"strips.tif", tiffFile(4, 30000000, 1, 1), 0},  // libtiff takes it for no TIFF at all
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = writeTempFile(std::string("limits-") + c.name, c.bytes);
    const size_t before = liveBytes;
    peakBytes = liveBytes;
    int width = 0;
    picImageInfo(path.c_str(), &width, nullptr, nullptr, nullptr);
    uint8_t red = 0, green = 0, blue = 0;
    EXPECT_NE(PIC_OK, picLoadRGBSized(path.c_str(), 1, 1, &red, &green, &blue));
    EXPECT_EQ(c.width, width);
    EXPECT_LE(peakBytes - before, heapBound(std::max(c.width, 1), c.bytes.size()));
  }
  // The counter sees libjpeg's own allocations: a progressive 1000 x 1000 grey
  // picture, within the memory floor, keeps 2 MB of coefficients.
  const std::string path = writeTempFile("limits-counted.jpg", jpegFile(1000, 1000, true, 64));
  const size_t before = liveBytes;
  peakBytes = liveBytes;
  uint8_t red = 0, green = 0, blue = 0;
  EXPECT_EQ(PIC_ERR_DATA, picLoadRGBSized(path.c_str(), 1, 1, &red, &green, &blue));
  EXPECT_GE(peakBytes - before, size_t(2000000));
}

// ---- Indices past the palette, and PNG chunks claiming 2 GB.

void putPngChunk(Bytes& b, const char* type, const Bytes& data, uint32_t claimed) {
  put32be(b, claimed);  // may be more than the chunk holds
  Bytes chunk(type, type + 4);
  chunk.insert(chunk.end(), data.begin(), data.end());
  b.insert(b.end(), chunk.begin(), chunk.end());
  put32be(b, uint32_t(crc32(0, chunk.data(), uInt(chunk.size()))));
}

// A whole PNG: rows are the filtered image data (a filter byte before each
// row, every pass's rows when interlaced); `extra` chunks come before it.
Bytes pngWith(int width, int height, int depth, int colourType, bool interlaced, const Bytes& palette,
              const Bytes& rows, const Bytes& extra = {}) {
  Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  Bytes header;
  put32be(header, uint32_t(width));
  put32be(header, uint32_t(height));
  header.insert(header.end(), {uint8_t(depth), uint8_t(colourType), 0, 0, uint8_t(interlaced)});
  putPngChunk(b, "IHDR", header, 13);
  if (!palette.empty()) putPngChunk(b, "PLTE", palette, uint32_t(palette.size()));
  b.insert(b.end(), extra.begin(), extra.end());
  uLongf size = compressBound(uLong(rows.size()));
  Bytes data(size);
  compress(data.data(), &size, rows.data(), uLong(rows.size()));
  data.resize(size);
  putPngChunk(b, "IDAT", data, uint32_t(size));
  putPngChunk(b, "IEND", {}, 0);
  return b;
}

// GIF codes of `bits` bits, least significant bit first.
Bytes gifCodes(std::initializer_list<int> codes, int bits) {
  Bytes out;
  uint32_t pending = 0;
  int held = 0;
  for (int code : codes) {
    pending |= uint32_t(code) << held;
    for (held += bits; held >= 8; held -= 8, pending >>= 8) out.push_back(uint8_t(pending));
  }
  if (held > 0) out.push_back(uint8_t(pending));
  return out;
}

// Four pixels, one line, whose palette holds two entries, red and green: the
// indices are 0, 1 and two that pass the palette.
const int32_t shortRed = 0xff0000, shortGreen = 0x00ff00;

Bytes shortBmp() {  // 4-bit indices
  Bytes b = {'B', 'M'};
  put32le(b, 0);            // file size: unused
  put32le(b, 0);            // reserved
  put32le(b, 14 + 40 + 8);  // data offset, behind two palette entries
  put32le(b, 40);           // information header
  put32le(b, 4);            // width
  put32le(b, 1);            // height
  put16le(b, 1);            // planes
  put16le(b, 4);            // bits per pixel
  for (int i = 0; i < 4; ++i) put32le(b, 0);  // compression, image size, resolution
  put32le(b, 2);            // colours used
  put32le(b, 0);            // important colours
  b.insert(b.end(), {0, 0, 255, 0, 0, 255, 0, 0});  // blue, green, red, 0: red, green
  b.insert(b.end(), {0x01, 0x9f, 0, 0});             // indices 0, 1, 9, 15; the row padded to 4 bytes
  return b;
}

Bytes shortGif() {  // a 2-entry table, 8-bit LZW codes
  Bytes b;
  putText(b, "GIF89a");
  put16le(b, 4);                                        // screen width
  put16le(b, 1);                                        // screen height
  b.insert(b.end(), {0x80, 0, 0, 255, 0, 0, 0, 255, 0});  // a global table of 2: red, green
  b.push_back(0x2C);                                    // image descriptor
  put32le(b, 0);                                        // left, top
  put16le(b, 4);
  put16le(b, 1);
  b.insert(b.end(), {0, 8});  // no local table; code size 8
  const Bytes codes = gifCodes({256, 0, 1, 200, 255, 257}, 9);  // clear, four indices, end
  b.push_back(uint8_t(codes.size()));
  b.insert(b.end(), codes.begin(), codes.end());
  b.insert(b.end(), {0, 0x3B});  // block terminator, trailer
  return b;
}

Bytes shortTarga() {  // 8-bit indices
  Bytes b = {0, 1, 1};  // no identification, a map, colour-mapped
  put16le(b, 0);        // the map's first index
  put16le(b, 2);        // map length
  b.push_back(24);      // map entry bits
  put32le(b, 0);        // origin
  put16le(b, 4);        // width
  put16le(b, 1);        // height
  b.insert(b.end(), {8, 0x20});                        // index bits, top line first
  b.insert(b.end(), {0, 0, 255, 0, 255, 0, 0, 1, 200, 255});  // map (blue, green, red), indices
  return b;
}

Bytes shortSun() {  // 8-bit indices
  Bytes b;
  put32be(b, 0x59a66a95);
  put32be(b, 4);  // width
  put32be(b, 1);  // height
  put32be(b, 8);  // depth
  put32be(b, 4);  // data length
  put32be(b, 1);  // standard
  put32be(b, 1);  // map of separate planes
  put32be(b, 6);  // map length: two entries
  b.insert(b.end(), {255, 0, 0, 255, 0, 0, 0, 1, 200, 255});  // reds, greens, blues, indices
  return b;
}

Bytes shortPcx() {  // 8-bit indices, version 2: the header's 16 colours, no palette behind the data
  Bytes b(128, 0);
  b[0] = 10, b[1] = 2, b[3] = 8;           // manufacturer, version, not encoded, bits
  b[8] = 3;                                // xmax
  b[16] = 255, b[20] = 255;                // header palette: red, green, then black
  b[65] = 1, b[66] = 4;                    // planes, bytes per line
  b.insert(b.end(), {0, 1, 100, 255});
  return b;
}

Bytes shortPng(const Bytes& extra = {}) {  // 2-bit indices 0, 1, 2, 3
  return pngWith(4, 1, 2, 3, false, {255, 0, 0, 0, 255, 0}, {0, 0x1b}, extra);
}

Bytes shortZot() {  // two colours listed, indices 0, 1, 7, 255
  const std::string text = "ZOTImage = IMAGE[\n0 = \"255 0 0\",\n1 = \"0 255 0\"]\n(4,1\n,0,1,7,255\n)";
  return Bytes(text.begin(), text.end());
}

// Every colour-mapped reader describes the colours its indices reach; the
// entries past the file's palette are black, and so are their pixels.
TEST(ShortPalettes, DescribeEveryColourTheIndicesReachAndShowBlackPastThePalette) {
  const struct {
    const char* name;
    Bytes bytes;
    int colours;
    std::vector<uint8_t> indices;
  } cases[] = {
      {"palette.bmp", shortBmp(), 16, {0, 1, 9, 15}},      {"palette.gif", shortGif(), 256, {0, 1, 200, 255}},
      {"palette.tga", shortTarga(), 256, {0, 1, 200, 255}}, {"palette.ras", shortSun(), 256, {0, 1, 200, 255}},
      {"palette.pcx", shortPcx(), 256, {0, 1, 100, 255}},  {"palette.png", shortPng(), 4, {0, 1, 2, 3}},
      {"palette.zot", shortZot(), 256, {0, 1, 7, 255}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = writeTempFile(std::string("limits-") + c.name, c.bytes);
    int width = 0, height = 0, mode = -1, colours = -1;
    ASSERT_EQ(PIC_OK, picImageInfo(path.c_str(), &width, &height, &mode, &colours));
    EXPECT_EQ(PIC_MAP, mode);
    EXPECT_EQ(c.colours, colours);
    std::vector<uint8_t> indices(4);
    std::vector<int32_t> map(PIC_MAX_COLOURS, 0x123456);
    ASSERT_EQ(PIC_OK, picLoadMap(path.c_str(), indices.data(), map.data()));
    EXPECT_EQ(c.indices, indices);
    std::vector<int32_t> expected(size_t(c.colours), 0);
    expected[0] = shortRed, expected[1] = shortGreen;
    EXPECT_EQ(expected, std::vector<int32_t>(map.begin(), map.begin() + c.colours));

    RgbImage image;
    ASSERT_EQ(PIC_OK, libraryLoadRGB(path, &image));
    EXPECT_EQ(std::vector<uint32_t>({0xff0000, 0x00ff00, 0, 0}),
              std::vector<uint32_t>({image.at(0, 0), image.at(1, 0), image.at(2, 0), image.at(3, 0)}));
    // Saved as described, the picture is one other readers take.
    const std::string saved = tempPath("limits-short.bmp");
    ASSERT_EQ(PIC_OK, picSaveMap(4, 1, PIC_DRIVER_BMP, indices.data(), colours, map.data(), saved.c_str()));
    RgbImage byPeer;
    ASSERT_TRUE(peerDecode(saved, &byPeer));
    EXPECT_EQ(0u, countDifferences(image, byPeer));
  }
}

// libpng would allocate what an ancillary chunk claims before finding the
// file ends: chunks the driver does not use are skipped unread, so a file of a
// hundred bytes costs no more than its picture, described or loaded.
TEST(PngChunks, ClaimingTwoGigabytesAreSkippedUnread) {
  ASSERT_TRUE(hooksInstalled);
  // Each type claims 2^31 - 1 bytes before the image data; last, the file
  // without such a chunk, whose indices pass its palette.
  for (const char* type : {"tEXt", "zTXt", "iTXt", "sPLT", "pCAL", "sCAL", "eXIf", "iCCP", "prVt", ""}) {
    SCOPED_TRACE(*type ? type : "indices past the palette");
    Bytes chunk;
    if (*type) putPngChunk(chunk, type, {'k', 'e', 'y', 0, 0, 'v', 'a', 'l', 'u', 'e'}, 0x7fffffff);
    const Bytes bytes = shortPng(chunk);
    const int status = *type ? PIC_ERR_READ : PIC_OK;  // the file ends inside the chunk
    const std::string path = writeTempFile("limits-chunk.png", bytes);
    const size_t before = liveBytes;
    peakBytes = liveBytes;
    int colours = 0;
    EXPECT_EQ(status, picImageInfo(path.c_str(), nullptr, nullptr, nullptr, &colours));
    uint8_t indices[4] = {};
    int32_t map[PIC_MAX_COLOURS];
    EXPECT_EQ(status, picLoadMap(path.c_str(), indices, map));
    EXPECT_LE(peakBytes - before, heapBound(4, bytes.size()));
    if (status == PIC_OK) {
      for (const uint8_t index : indices) EXPECT_LT(int(index), colours);
    }
  }
}

// The bytes of an interlaced picture's image data: every pass's rows, a filter
// byte before each.
size_t adam7Bytes(int width, int height, int bytesPerPixel) {
  const int x0[] = {0, 4, 0, 2, 0, 1, 0}, dx[] = {8, 8, 4, 4, 2, 2, 1};
  const int y0[] = {0, 0, 4, 0, 2, 0, 1}, dy[] = {8, 8, 8, 4, 4, 2, 2};
  size_t total = 0;
  for (int pass = 0; pass < 7; ++pass) {
    const size_t columns = width > x0[pass] ? size_t((width - x0[pass] + dx[pass] - 1) / dx[pass]) : 0;
    const size_t rows = height > y0[pass] ? size_t((height - y0[pass] + dy[pass] - 1) / dy[pass]) : 0;
    if (columns > 0) total += rows * (1 + columns * size_t(bytesPerPixel));
  }
  return total;
}

// An interlaced picture is held whole while it is decoded, so every size the
// pixel limit lets through loads: in three bytes a pixel for true colour, one
// for indices, and what a few lines take.
TEST_F(PixelLimit, InterlacedPngsUpToTheLimitLoad) {
  ASSERT_TRUE(hooksInstalled);
  const int side = 2048;
  picSetPixelLimit(int64_t(side) * side);
  for (const int colourType : {2, 3}) {
    SCOPED_TRACE(colourType == 2 ? "RGB" : "palette");
    const int bytesPerPixel = colourType == 2 ? 3 : 1;
    const Bytes palette = colourType == 3 ? Bytes(768, 9) : Bytes{};
    const std::string path = writeTempFile(
        "limits-interlaced.png",
        pngWith(side, side, 8, colourType, true, palette, Bytes(adam7Bytes(side, side, bytesPerPixel), 0)));
    std::vector<uint8_t> planes(size_t(3) * side * side);
    const size_t before = liveBytes;
    peakBytes = liveBytes;
    ASSERT_EQ(PIC_OK, picImageInfo(path.c_str(), nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(PIC_OK, picLoadRGB(path.c_str(), planes.data(), planes.data() + side * side,
                                 planes.data() + 2 * side * side));
    EXPECT_EQ(colourType == 2 ? 0 : 9, planes[0]);
    EXPECT_LE(peakBytes - before, size_t(bytesPerPixel) * side * side + heapBound(side, 0));
  }
}

}  // namespace
