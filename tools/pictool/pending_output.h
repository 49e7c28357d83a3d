// An output that is never seen half-written and never destroys what OUT is.
// The picture is saved completely to a temporary file first; commit then puts
// it in place by the kind of OUT, symbolic links followed to the file they
// name (a dangling link creates it):
// - a new name, or a regular file with no other hard link: the temporary file,
//   made beside it, is renamed over it and keeps the old file's permission
//   bits, and its owner and group where the caller may set them;
// - a regular file with other hard links, or in a folder the caller may not
//   write: rewritten in place;
// - a device, FIFO, socket, a process's open file (/dev/stdout) or "-"
//   (standard output): the bytes are copied into it, never replaced.
// When OUT is not renamed over, the temporary file is made in $TMPDIR (else
// /tmp). While an output is pending, the signals of signals.h remove the
// temporary file and end the process; while bytes are copied into OUT they are
// held until the copy ends. Several outputs may be pending at once, one per thread.
#ifndef TOOLS_PICTOOL_PENDING_OUTPUT_H
#define TOOLS_PICTOOL_PENDING_OUTPUT_H

#include <sys/stat.h>

#include <string>

namespace pictool {

class PendingOutput {
 public:
  PendingOutput() = default;
  ~PendingOutput();  // removes the temporary file unless committed
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  // Checks that OUT ("-": standard output) may be written and creates the
  // temporary file the picture is saved to. PIC_OK, or PIC_ERR_OPEN with
  // *message set to the words a person reads after "pictool: OUT: ",
  // e.g. "cannot write it: Permission denied".
  int create(const std::string& finalPath, std::string* message);
  const char* temporaryPath() const { return temporaryPath_.c_str(); }
  // Puts the complete file in place: PIC_OK, or PIC_ERR_WRITE with *message.
  int commit(std::string* message);

 private:
  enum class Placing {
    rename,              // the temporary file replaces targetPath_
    copyIntoPath,        // copied into targetPath_, opened at commit
    copyIntoDescriptor,  // copied into targetDescriptor_, this process's own
  };

  bool findTarget(const std::string& finalPath, std::string* message);
  bool useExisting(const std::string& path, const struct stat& status, std::string* message);
  bool useDescriptor(int descriptor, std::string* message);
  bool makeTemporaryFile(std::string* message);
  bool makeTemporaryIn(const std::string& folder, const std::string& prefix, const std::string& name);
  bool renameIntoPlace(std::string* message);
  bool copyIntoPlace(std::string* message);
  void keepOwnerAndMode();
  void removeTemporary();  // while the signals are held
  void finish();

  std::string finalPath_;
  Placing placing_ = Placing::rename;
  std::string targetPath_;
  int targetDescriptor_ = -1;
  bool targetExists_ = false;
  struct stat targetStatus_ = {};
  std::string temporaryPath_;
  int temporaryFd_ = -1;
  bool temporaryExists_ = false;
  int signalSlot_ = -1;  // its place among the files the signal handlers remove
  bool active_ = false;
};

}  // namespace pictool

#endif
