// Carries the input's resolution (dots per inch or centimetre) to the output
// through the library's resolution callback: readers give the file's values
// to it, writers ask it for theirs.
#ifndef TOOLS_PICTOOL_RESOLUTION_H
#define TOOLS_PICTOOL_RESOLUTION_H

namespace pictool {

struct Resolution {
  double x = 0, y = 0;
  int unit = 0;  // PIC_RES_*; PIC_RES_NONE: none known
};

// While one lives, the resolution the readers give is kept in *kept.
class ResolutionKept {
 public:
  explicit ResolutionKept(Resolution* kept);
  ~ResolutionKept();
  ResolutionKept(const ResolutionKept&) = delete;
  ResolutionKept& operator=(const ResolutionKept&) = delete;
};

// While one lives, writers are given `given` (nothing when its unit is none).
class ResolutionGiven {
 public:
  explicit ResolutionGiven(const Resolution& given);
  ~ResolutionGiven();
  ResolutionGiven(const ResolutionGiven&) = delete;
  ResolutionGiven& operator=(const ResolutionGiven&) = delete;
};

}  // namespace pictool

#endif
