// Status codes in words, for the messages of programs that use the library.
#include "picture/core/picture.h"

const char* picStatusText(int status) {
  switch (status) {
    case PIC_OK: return "success";
    case PIC_ERR_OPEN: return "cannot open or create the file";
    case PIC_ERR_READ: return "read failed or the file ends early";
    case PIC_ERR_WRITE: return "write failed";
    case PIC_ERR_FORMAT: return "no driver recognises the file";
    case PIC_ERR_DATA: return "this kind of image is not supported";
    case PIC_ERR_COMPRESSION: return "the compression is not supported";
    case PIC_INTERRUPTED: return "interrupted";
    default: return "unknown status";
  }
}
