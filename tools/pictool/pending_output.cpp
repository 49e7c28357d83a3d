// Where OUT's bytes go is decided before the picture is saved (create), and
// nothing of OUT is touched until the saved file is complete (commit).
#include "tools/pictool/pending_output.h"

#include <fcntl.h>
#include <limits.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/statfs.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "picture/core/picture.h"
#include "tools/pictool/signals.h"

namespace pictool {

namespace {

const int maxLinks = 40;  // as many symbolic links as the system follows in one name

bool fail(std::string* message, const char* what, int error) {
  *message = std::string(what) + ": " + std::strerror(error);
  return false;
}

// "dir/" of "dir/name", "" of "name".
std::string folderPrefix(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string nameOf(const std::string& path) { return path.substr(folderPrefix(path).size()); }

std::string folderOf(const std::string& path) {
  const std::string prefix = folderPrefix(path);
  return prefix.empty() ? "." : prefix;
}

std::string temporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  return folder && *folder ? folder : "/tmp";
}

bool isOnProcFs(const std::string& folder) {
  struct statfs fileSystem;
  return statfs(folder.c_str(), &fileSystem) == 0 && fileSystem.f_type == PROC_SUPER_MAGIC;
}

// N when `link` is /proc/self/fd/N (also reached as /dev/fd/N), else -1.
int ownDescriptorOf(const std::string& link) {
  struct stat folder, ownFolder;
  if (stat(folderOf(link).c_str(), &folder) != 0 || stat("/proc/self/fd", &ownFolder) != 0 ||
      folder.st_dev != ownFolder.st_dev || folder.st_ino != ownFolder.st_ino)
    return -1;
  const std::string name = nameOf(link);
  if (name.empty() || name.size() > 9 || name.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::atoi(name.c_str());
}

bool readLink(const std::string& link, std::string* target) {
  std::vector<char> buffer(PATH_MAX);
  const ssize_t length = readlink(link.c_str(), buffer.data(), buffer.size());
  if (length < 0) return false;
  if (size_t(length) == buffer.size()) {
    errno = ENAMETOOLONG;
    return false;
  }
  target->assign(buffer.data(), size_t(length));
  return true;
}

// `name` cut so that it fits in `room` bytes, not inside a UTF-8 character.
std::string fitName(const std::string& name, size_t room) {
  size_t length = std::min(room, name.size());
  while (length > 0 && length < name.size() && (static_cast<unsigned char>(name[length]) & 0xc0) == 0x80)
    --length;
  return name.substr(0, length);
}

int connectTo(const std::string& path) {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket >= 0 && connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    close(socket);
    errno = error;
    return -1;
  }
  return socket;
}

// 0, or why the rewritten file could not grow to `size` bytes: checked
// before the first byte of it changes.
int roomFor(int file, off_t size) {
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && rlim_t(size) > limit.rlim_cur)
    return EFBIG;
  if (size > 0 && fallocate(file, FALLOC_FL_KEEP_SIZE, 0, size) != 0 && (errno == ENOSPC || errno == EDQUOT))
    return errno;
  return 0;  // file systems without fallocate are written as they are
}

// 0, or why the first `size` bytes of `from` could not all be written to `to`.
int copyBytes(int from, off_t size, int to) {
  std::vector<char> buffer(1 << 16);
  for (off_t done = 0; done < size;) {
    const ssize_t got = pread(from, buffer.data(), size_t(std::min<off_t>(off_t(buffer.size()), size - done)), done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return got < 0 ? errno : EIO;
    for (ssize_t put = 0; put < got;) {
      const ssize_t written = write(to, buffer.data() + put, size_t(got - put));
      if (written >= 0) {
        put += written;
      } else if (errno == EAGAIN || errno == EWOULDBLOCK) {  // a standard output left non-blocking
        pollfd ready = {to, POLLOUT, 0};
        poll(&ready, 1, -1);
      } else if (errno != EINTR) {
        return errno;
      }
    }
    done += got;
  }
  return 0;
}

}  // namespace

int PendingOutput::create(const std::string& finalPath, std::string* message) {
  if (active_) {
    *message = "cannot write it: another output is pending";
    return PIC_ERR_OPEN;
  }
  finalPath_ = finalPath;
  if (!findTarget(finalPath, message)) return PIC_ERR_OPEN;
  catchEndingSignals();
  if (!makeTemporaryFile(message)) {
    restoreEndingSignals();
    return PIC_ERR_OPEN;
  }
  active_ = true;
  return PIC_OK;
}

// Follows OUT's symbolic links to what receives the picture, and checks that
// the caller may write it.
bool PendingOutput::findTarget(const std::string& finalPath, std::string* message) {
  if (finalPath == "-") return useDescriptor(STDOUT_FILENO, message);
  if (finalPath.empty()) return fail(message, "cannot create it", ENOENT);
  std::string path = finalPath;
  for (int links = 0;; ++links) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) {
      if (errno != ENOENT) return fail(message, "cannot create it", errno);
      // A closed descriptor (/dev/stdout after >&-): nothing can be created there.
      if (isOnProcFs(folderOf(path))) return fail(message, "cannot write it", ENOENT);
      placing_ = Placing::rename;
      targetPath_ = path;
      targetExists_ = false;
      return true;
    }
    if (!S_ISLNK(status.st_mode)) return useExisting(path, status, message);
    // The kernel's links to open files (/dev/stdout leads to /proc/self/fd/1)
    // name no path to replace: the file is written through.
    if (isOnProcFs(folderOf(path))) {
      const int descriptor = ownDescriptorOf(path);
      if (descriptor >= 0) return useDescriptor(descriptor, message);
      if (stat(path.c_str(), &status) != 0) return fail(message, "cannot write it", errno);
      const bool usable = useExisting(path, status, message);
      placing_ = Placing::copyIntoPath;
      return usable;
    }
    std::string next;
    if (links == maxLinks) return fail(message, "cannot write it", ELOOP);
    if (!readLink(path, &next)) return fail(message, "cannot write it", errno);
    path = next.compare(0, 1, "/") == 0 ? next : folderPrefix(path) + next;
  }
}

bool PendingOutput::useExisting(const std::string& path, const struct stat& status, std::string* message) {
  if (S_ISDIR(status.st_mode)) return fail(message, "cannot write it", EISDIR);
  // The effective user's right to open it for writing, as the open would
  // decide: root may write a read-only file, as with other tools.
  if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return fail(message, "cannot write it", errno);
  targetPath_ = path;
  targetExists_ = true;
  targetStatus_ = status;
  placing_ = S_ISREG(status.st_mode) && status.st_nlink == 1 ? Placing::rename : Placing::copyIntoPath;
  return true;
}

bool PendingOutput::useDescriptor(int descriptor, std::string* message) {
  const int flags = fcntl(descriptor, F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) return fail(message, "cannot write it", EBADF);
  placing_ = Placing::copyIntoDescriptor;
  targetDescriptor_ = descriptor;
  return true;
}

bool PendingOutput::makeTemporaryFile(std::string* message) {
  if (placing_ != Placing::rename) {
    const std::string folder = temporaryFolder();
    if (makeTemporaryIn(folder + "/", "pictool-", finalPath_ == "-" ? "stdout" : nameOf(finalPath_))) return true;
    return fail(message, ("cannot create a temporary file in " + folder).c_str(), errno);
  }
  if (makeTemporaryIn(folderPrefix(targetPath_), ".", nameOf(targetPath_))) return true;
  const int error = errno;
  if (!targetExists_) return fail(message, "cannot create it", error);
  if (error != EACCES && error != EPERM)
    return fail(message, ("cannot create a temporary file in " + folderOf(targetPath_)).c_str(), error);
  // A file the caller may write in a folder they may not: written in place.
  placing_ = Placing::copyIntoPath;
  return makeTemporaryFile(message);
}

// PREFIX NAME .XXXXXX in the folder, NAME shortened to fit the longest name
// the folder takes; false with errno.
bool PendingOutput::makeTemporaryIn(const std::string& folder, const std::string& prefix, const std::string& name) {
  const char* const suffix = ".XXXXXX";
  long longestName = pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  if (longestName <= 0) longestName = NAME_MAX;
  const size_t room = size_t(std::max(0L, longestName - long(prefix.size() + std::strlen(suffix))));
  std::string path = folder + prefix + fitName(name, room) + suffix;
  if (path.size() >= PATH_MAX) {
    errno = ENAMETOOLONG;
    return false;
  }
  int error;
  {
    const EndingSignalsHeld held;
    temporaryFd_ = createRemovedOnSignal(&path, &signalSlot_);
    error = errno;
    temporaryExists_ = temporaryFd_ >= 0;
  }
  errno = error;
  if (temporaryFd_ < 0) return false;
  temporaryPath_ = path;
  return true;
}

int PendingOutput::commit(std::string* message) {
  if (!active_) {
    *message = "write failed: nothing was saved";
    return PIC_ERR_WRITE;
  }
  const bool placed = placing_ == Placing::rename ? renameIntoPlace(message) : copyIntoPlace(message);
  finish();
  return placed ? PIC_OK : PIC_ERR_WRITE;
}

bool PendingOutput::renameIntoPlace(std::string* message) {
  keepOwnerAndMode();
  // What replaces an existing file is on the disk before the old one goes.
  if (targetExists_ && fsync(temporaryFd_) != 0) return fail(message, "write failed", errno);
  int error = 0;
  {
    const EndingSignalsHeld held;
    if (std::rename(temporaryPath_.c_str(), targetPath_.c_str()) == 0) {
      temporaryExists_ = false;
      forgetOnSignal(signalSlot_);
      signalSlot_ = -1;
    } else {
      error = errno;
    }
  }
  if (error == 0) return true;
  if (error != EPERM || !targetExists_) return fail(message, "write failed", error);
  // A folder with the sticky bit keeps others' files from being replaced: written in place.
  placing_ = Placing::copyIntoPath;
  return copyIntoPlace(message);
}

// The permission bits of the file replaced, its owner and group where the
// caller may set them (set-user and set-group bits only with both), and a new
// file's as a plain create gives them.
void PendingOutput::keepOwnerAndMode() {
  if (!targetExists_) {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(temporaryFd_, 0666 & ~mask);
    return;
  }
  const bool ownerKept = fchown(temporaryFd_, targetStatus_.st_uid, targetStatus_.st_gid) == 0;
  if (!ownerKept) (void)!fchown(temporaryFd_, uid_t(-1), targetStatus_.st_gid);  // the group alone, if the caller's
  fchmod(temporaryFd_, targetStatus_.st_mode & (ownerKept ? 07777 : 01777));
}

bool PendingOutput::copyIntoPlace(std::string* message) {
  struct stat temporary;
  if (fstat(temporaryFd_, &temporary) != 0) return fail(message, "write failed", errno);
  const bool ownDescriptor = placing_ == Placing::copyIntoDescriptor;
  int out = targetDescriptor_;
  if (!ownDescriptor) {
    // Opened with the signals free: a FIFO's open waits for its reader.
    out = S_ISSOCK(targetStatus_.st_mode) ? connectTo(targetPath_)
                                          : open(targetPath_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (out < 0) return fail(message, "cannot write it", errno);
  }
  struct stat opened;
  const bool rewriting = !ownDescriptor && fstat(out, &opened) == 0 && S_ISREG(opened.st_mode);
  int error = rewriting ? roomFor(out, temporary.st_size) : 0;
  {
    const EndingSignalsHeld held;
    if (error == 0) error = copyBytes(temporaryFd_, temporary.st_size, out);
    if (error == 0 && rewriting && ftruncate(out, temporary.st_size) != 0) error = errno;
    if (!ownDescriptor && close(out) != 0 && error == 0) error = errno;
    removeTemporary();
  }
  return error == 0 || fail(message, "write failed", error);
}

void PendingOutput::removeTemporary() {
  if (!temporaryExists_) return;
  unlink(temporaryPath_.c_str());
  temporaryExists_ = false;
  forgetOnSignal(signalSlot_);
  signalSlot_ = -1;
}

void PendingOutput::finish() {
  {
    const EndingSignalsHeld held;
    removeTemporary();
  }
  if (temporaryFd_ >= 0) close(temporaryFd_);
  temporaryFd_ = -1;
  restoreEndingSignals();
  active_ = false;
}

PendingOutput::~PendingOutput() {
  if (active_) finish();
}

}  // namespace pictool
