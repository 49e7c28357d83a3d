// The two built-in tables of file operations.
#ifndef PICTURE_CORE_FILE_TABLES_H
#define PICTURE_CORE_FILE_TABLES_H

#include "picture/core/picture.h"

picFileOps picDiskFileOps();
picFileOps picMemoryFileOps();

#endif
