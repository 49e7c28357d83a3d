/* The picture library: identifies, describes, loads and saves images through a
 * table of format drivers, from disk files or memory buffers.
 *
 * Images travel as planes of width * height bytes, rows of `width` bytes without
 * gaps, row 0 = the bottom line of the picture. A true-colour image is three
 * planes (red, green, blue); a colour-mapped image is one plane of indices plus
 * a map of at most 256 colour words 0x00RRGGBB.
 *
 * Usable from C and C++, and from any number of threads at once: each thread
 * loads and saves its own files with its own file table (picUseMemoryFiles,
 * picUseDiskFiles, picSetFileOps choose the calling thread's) and may override
 * the process-wide callbacks and pixel limit for itself (the ...Thread setters).
 * Registration is serialised; the built-in drivers are there from the start. */
#ifndef PICTURE_CORE_PICTURE_H
#define PICTURE_CORE_PICTURE_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes of every operation and driver. */
enum {
  PIC_OK = 0,
  PIC_ERR_OPEN = 1,        /* cannot open (read) or create (write) the file */
  PIC_ERR_READ = 2,        /* a read failed or the data ended early */
  PIC_ERR_WRITE = 3,       /* a write failed */
  PIC_ERR_FORMAT = 4,      /* not this driver's format / no driver recognises it */
  PIC_ERR_DATA = 5,        /* recognised, but this kind of image is not supported */
  PIC_ERR_COMPRESSION = 6, /* the compression is not supported */
  PIC_INTERRUPTED = -1     /* the progress callback asked to stop */
};

/* Colour modes. */
enum { PIC_RGB = 0, PIC_MAP = 1 };

/* Compression codes: bits 8-15 of a format code. */
enum { PIC_COMP_NONE = 0x000, PIC_COMP_RLE = 0x100, PIC_COMP_LZW = 0x200 };

/* Resolution units given to and taken from the resolution callback. */
enum { PIC_RES_NONE = 0, PIC_RES_INCH = 1, PIC_RES_CM = 2 };

/* Table indices of the built-in drivers, the low byte of a format code. */
enum {
  PIC_DRIVER_BMP = 0,
  PIC_DRIVER_PCX = 1,
  PIC_DRIVER_GIF = 2,
  PIC_DRIVER_TIFF = 3,
  PIC_DRIVER_SUN = 4,
  PIC_DRIVER_SGI = 5,
  PIC_DRIVER_JPEG = 6,
  PIC_DRIVER_ZOT = 7,
  PIC_DRIVER_TARGA = 8,
  PIC_BUILTIN_DRIVERS = 9
};

#define PIC_MAX_DRIVERS 50  /* table slots; one stays null behind the last driver */
#define PIC_MAX_COLOURS 256 /* entries of every colour map the library fills */

/* An open image, filled by a driver's open and freed by its close. */
typedef struct picFile {
  void* driverData;      /* the driver's own state */
  int32_t width;         /* pixels per line */
  int32_t height;        /* number of lines */
  int32_t colourMode;    /* PIC_RGB or PIC_MAP */
  int32_t compression;   /* PIC_COMP_* of the file (read) or requested (write) */
  int32_t colours;       /* colour-map entries */
  int32_t planar;        /* 1: true colour travels plane by plane through the line calls */
  int32_t mapFirst;      /* writing: 1 = map before the first line, 0 = after the last */
  int32_t planeOrder[3]; /* plane carried in pass k: 0 red, 1 green, 2 blue */
  int32_t currentLine;   /* buffer row (0 = bottom) of the next line call */
} picFile;

/* One format driver. A driver lacking an operation leaves it null. The registry
 * keeps a pointer to the record, which must stay valid for the whole process. */
typedef struct picDriver {
  int index; /* position in the table; written by the registry */
  int (*control)(void* arg, int code);
  picFile* (*openRead)(const char* fileName, int* status);
  picFile* (*openWrite)(const char* fileName, int width, int height, int colourMode,
                        int compression, int colours, int* status);
  /* Completes a written file, closes it and frees the picFile: 0 when every
   * byte reached the file; a save whose close answers non-zero fails. */
  int (*close)(picFile* file);
  int (*readMap)(picFile* file, int32_t* map);
  int (*writeMap)(picFile* file, const int32_t* map);
  int (*readLine)(picFile* file, uint8_t* line);
  int (*writeLine)(picFile* file, const uint8_t* line);
  int (*readRGBLine)(picFile* file, uint8_t* red, uint8_t* green, uint8_t* blue);
  int (*writeRGBLine)(picFile* file, const uint8_t* red, const uint8_t* green, const uint8_t* blue);
} picDriver;

/* Callbacks. Progress: a non-zero answer to a per-line call stops the load or
 * save with PIC_INTERRUPTED. Resolution: called by drivers of formats that store
 * one, with the file's values when reading, with zeros to fill in when writing. */
typedef int (*picProgressCallback)(const char* fileName, int percent, int writing);
typedef int (*picResolutionCallback)(const char* fileName, double* xRes, double* yRes, int* unit);

/* Codes of picDriverControl with index -1. */
enum { PIC_CONTROL_PROGRESS = 0, PIC_CONTROL_RESOLUTION = 1 };

/* Codes of picDriverControl with a driver's index. PIC_CONTROL_JPEG_QUALITY,
 * with the JPEG driver's index and arg pointing to an int from 1 to 100, sets
 * the quality of the JPEG files saved from then on (default 100; a null arg
 * restores it); it answers 1 when the value was taken, 0 when it is out of range.
 * PIC_CONTROL_JPEG_QUALITY_THREAD sets the calling thread's own, which overrides
 * it there (a null arg drops it). */
enum { PIC_CONTROL_JPEG_QUALITY = 16, PIC_CONTROL_JPEG_QUALITY_THREAD = 17 };

/* Registry. picRegisterDriver appends a driver behind the built-in ones and
 * returns its index, or -1 when the table is full. picDriverControl with index -1
 * installs (or, with a null arg, removes) a callback; with another index it calls
 * that driver's control entry, and answers 0 for an index that names no driver. */
int picRegisterDriver(picDriver* driver);
int picDriverControl(void* arg, int code, int index);
/* The same as picDriverControl with index -1, typed: ISO C cannot pass a
 * function as the untyped arg. A null callback removes it. */
void picSetProgressCallback(picProgressCallback callback);
void picSetResolutionCallback(picResolutionCallback callback);
/* The same for the calling thread only: the value overrides the process-wide
 * one on this thread (a null callback set so means none here), whatever other
 * threads set. picClearThreadSettings drops this thread's overrides, the pixel
 * limit's (picSetPixelLimitThread) and the JPEG quality's included. */
void picSetProgressCallbackThread(picProgressCallback callback);
void picSetResolutionCallbackThread(picResolutionCallback callback);
void picClearThreadSettings(void);

/* The PNM (netpbm) and PNG drivers are not built in: this registers them behind
 * the drivers already in the table, PNM first and PNG at the next index. It
 * returns the PNM driver's index (PNG's is one more), or -1 when the table has
 * no room for both; a second call registers nothing and returns the same index. */
int picRegisterExtraDrivers(void);
enum { PIC_EXTRA_PNM = 0, PIC_EXTRA_PNG = 1 }; /* offsets from that index */

/* The pixel limit of reading. A file whose header claims more pixels (width *
 * height) than the limit is refused with PIC_ERR_DATA by every driver before
 * anything the header sizes is allocated, and picImageInfo answers PIC_ERR_DATA
 * for it (still giving its sides and colours), so that a caller who sizes its
 * planes from the description cannot be made to allocate gigabytes by a file of
 * a few bytes; picFileFormat still names its format. The default,
 * PIC_DEFAULT_PIXEL_LIMIT (2^27), lets a 16384 x 8192 picture load. 0 means no
 * limit beyond width * height fitting an int; a negative value is ignored.
 * Saving has no limit. */
#define PIC_DEFAULT_PIXEL_LIMIT 134217728
void picSetPixelLimit(int64_t pixels);
void picSetPixelLimitThread(int64_t pixels); /* this thread's, overriding the process-wide one */
int64_t picGetPixelLimit(void);             /* the limit this thread's reads use */

/* A status code in words ("no driver recognises the file", ...), for messages. */
const char* picStatusText(int status);
/* Which check refused the calling thread's last operation, in a few words
 * ("16-bit samples", "run length passes the row"), or null: after a success,
 * and for failures no check names (a file that cannot be opened). Constant
 * text; valid until the thread's next operation. */
const char* picLastReason(void);

/* Operations. */
int picFileFormat(const char* fileName, int* format);
/* A description is a promise: when this thread's last picImageInfo described
 * the same name, picLoadRGB and picLoadMap refuse (PIC_ERR_DATA, nothing
 * written) a file whose width, height or colour count has changed since. */
int picImageInfo(const char* fileName, int* width, int* height, int* colourMode, int* colours);
/* The verdict of the driver that recognises the file, where picImageInfo
 * describes a file it cannot load with PIC_OK: PIC_OK when the file should
 * load, the status the driver's open answered (PIC_ERR_DATA, PIC_ERR_COMPRESSION)
 * for a variant it cannot read, PIC_ERR_DATA over the pixel limit, and
 * otherwise what picImageInfo answers. */
int picImageStatus(const char* fileName);
int picLoadRGB(const char* fileName, uint8_t* red, uint8_t* green, uint8_t* blue);
int picLoadMap(const char* fileName, uint8_t* indices, int32_t* map);
/* picLoadRGB for planes of width x height bytes: a file that is not (any more)
 * of that size is refused with PIC_ERR_DATA before any row is written. */
int picLoadRGBSized(const char* fileName, int width, int height, uint8_t* red, uint8_t* green,
                    uint8_t* blue);
int picSaveRGB(int width, int height, int format, const uint8_t* red, const uint8_t* green,
               const uint8_t* blue, const char* fileName);
int picSaveMap(int width, int height, int format, const uint8_t* indices, int colours,
               const int32_t* map, const char* fileName);
const char* picVersion(void);

/* Colour words and conversions. Indices at or above `colours` give black. */
int32_t picEncodeColour(int red, int green, int blue);
void picDecodeColour(uint8_t* red, uint8_t* green, uint8_t* blue, int32_t colour);
void picMapToRGB(int width, int height, const uint8_t* indices, int colours, const int32_t* map,
                 uint8_t* red, uint8_t* green, uint8_t* blue);
void picRGBToGrey(int width, int height, const uint8_t* red, const uint8_t* green,
                  const uint8_t* blue, uint8_t* grey, int32_t* greyMap);
void picMapToGrey(int width, int height, const uint8_t* indices, int colours, const int32_t* map,
                  uint8_t* greyIndices, int32_t* greyMap);
int picGreyLevel(int red, int green, int blue); /* (30 r + 59 g + 11 b) / 100 */

/* Binary file layer. Every driver reads and writes through it; the current
 * table of file operations decides where the bytes go (disk by default). */
enum { PIC_LITTLE_ENDIAN = 0, PIC_BIG_ENDIAN = 1 };
enum { PIC_BIN_READ = 0, PIC_BIN_WRITE = 1 };

typedef struct picFileOps {
  void* (*open)(const char* name, int mode);
  int (*close)(void* stream);
  long (*size)(void* stream);
  long (*read)(void* stream, void* buffer, long n);
  long (*write)(void* stream, const void* buffer, long n);
  int (*print)(void* stream, const char* format, va_list args);
  int (*error)(void* stream);
  int (*seekSet)(void* stream, long offset);
  int (*seekCur)(void* stream, long offset);
  int (*seekEnd)(void* stream, long offset);
  long (*tell)(void* stream);
  int (*eof)(void* stream);
} picFileOps;

typedef struct picBinFile {
  void* stream;  /* handle from the table's open */
  int mode;      /* PIC_BIN_READ or PIC_BIN_WRITE */
  int byteOrder; /* PIC_LITTLE_ENDIAN or PIC_BIG_ENDIAN: the file's */
} picBinFile;

/* The calling thread's table (a new thread starts on disk files); a stream
 * keeps the table it was opened with. */
void picSetFileOps(const picFileOps* ops);
void picUseDiskFiles(void);
void picUseMemoryFiles(void);

/* With the memory table, a file name is the buffer's address and capacity as
 * "%p %d" writes them; this makes one. A reading stream's data is the whole
 * capacity; a writing stream's data length is its size after the last write. */
int picMemoryFileName(char* name, size_t nameSize, void* buffer, int capacity);
/* The data length of the memory stream this thread closed last: after a save
 * to memory, the number of bytes the saved file takes. */
long picMemoryFileLength(void);

picBinFile* picBinOpen(const char* name, int mode, int byteOrder);
/* Closes the stream and frees the record. PIC_OK, or for a writing stream
 * PIC_ERR_WRITE when any byte given to it did not reach the file (a failed
 * write, print or seek, the error indicator, or a failed close: buffered
 * bytes are written only then); PIC_ERR_READ when a reading stream's close fails. */
int picBinClose(picBinFile* file);
long picBinSize(picBinFile* file);
int picBinRead(picBinFile* file, void* buffer, int n);
int picBinRead16(picBinFile* file, void* buffer, int count);
int picBinRead32(picBinFile* file, void* buffer, int count);
int picBinRead64(picBinFile* file, void* buffer, int count);
int picBinWrite(picBinFile* file, const void* buffer, int n);
int picBinWrite16(picBinFile* file, void* buffer, int count);
int picBinWrite32(picBinFile* file, void* buffer, int count);
int picBinWrite64(picBinFile* file, void* buffer, int count);
int picBinPrintf(picBinFile* file, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
int picBinError(picBinFile* file);
int picBinSeekSet(picBinFile* file, int offset);
int picBinSeekCur(picBinFile* file, int offset);
int picBinSeekEnd(picBinFile* file, int offset);
long picBinTell(picBinFile* file);
int picBinEOF(picBinFile* file);

/* Reads up to n bytes, never past the end of the data: for bulk readers, since a
 * memory stream refuses a whole read that passes its end. Returns bytes read. */
int picBinReadAvailable(picBinFile* file, void* buffer, int n);

int picHostByteOrder(void);
void picSwap16(void* buffer, int count);
void picSwap32(void* buffer, int count);
void picSwap64(void* buffer, int count);

#ifdef __cplusplus
}
#endif

#endif
