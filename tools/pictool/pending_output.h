// An output file written under a temporary name in its own folder and renamed
// into place when complete. Until then SIGINT and SIGTERM remove the temporary
// file and end the process with 130 or 143, so no half-written file is ever
// seen under the final name.
#ifndef TOOLS_PICTOOL_PENDING_OUTPUT_H
#define TOOLS_PICTOOL_PENDING_OUTPUT_H

#include <string>

namespace pictool {

class PendingOutput {
 public:
  PendingOutput() = default;
  ~PendingOutput();  // removes the temporary file unless committed
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  // Creates the temporary file beside finalPath: PIC_OK or PIC_ERR_OPEN.
  int create(const std::string& finalPath);
  const char* temporaryPath() const;
  // Renames it to the final name: PIC_OK or PIC_ERR_WRITE.
  int commit();

 private:
  std::string finalPath_;
  bool active_ = false;
};

}  // namespace pictool

#endif
