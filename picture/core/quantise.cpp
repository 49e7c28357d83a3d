// Colour reduction: exact maps for images of few colours, median cut with a
// nearest-entry search and optional Floyd-Steinberg dithering for the others.
#include "picture/core/quantise.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "picture/core/picture.h"

namespace {

const int refinements = 2;  // mean-refinement passes after the cut

struct Colour {
  std::array<int, 3> c;  // red, green, blue
};

uint32_t keyOf(int r, int g, int b) { return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b); }
Colour colourOf(uint32_t key) { return {{int(key >> 16 & 0xff), int(key >> 8 & 0xff), int(key & 0xff)}}; }

// A distinct colour of the image and how many pixels have it.
struct Entry {
  uint32_t key;
  uint32_t count;
};

// The caller's progress hook; a stop request ends the work by exception, so
// that the stages need not pass a status up.
class Progress {
 public:
  struct Stopped {};
  Progress(picQuantiseProgress hook, void* context) : hook_(hook), context_(context) {}
  void report(int percent) const {
    if (hook_ && hook_(context_, percent) != 0) throw Stopped();
  }
  // `done` of `total` steps of the stage that spans percents [from, to).
  void report(size_t done, size_t total, int from, int to) const {
    report(from + int(double(done) / double(total) * (to - from)));
  }

 private:
  picQuantiseProgress hook_;
  void* context_;
};

// Pixels are keyed and mapped in slices of this many, between progress reports.
const size_t pixelsPerReport = size_t(1) << 20;

// The distinct colours, sorted by key.
std::vector<Entry> histogram(size_t pixels, const uint8_t* red, const uint8_t* green,
                             const uint8_t* blue, const Progress& progress) {
  std::vector<uint32_t> keys(pixels);
  for (size_t p = 0; p < pixels; ++p) {
    if (p % pixelsPerReport == 0) progress.report(p, pixels, 0, 10);
    keys[p] = keyOf(red[p], green[p], blue[p]);
  }
  std::sort(keys.begin(), keys.end());
  progress.report(40);
  std::vector<Entry> entries;
  for (size_t p = 0; p < pixels;) {
    size_t q = p;
    while (q < pixels && keys[q] == keys[p]) ++q;
    entries.push_back({keys[p], uint32_t(q - p)});
    p = q;
  }
  return entries;
}

// A box of the cut: a range of entries and the sums its error is taken from.
struct Box {
  size_t begin, end;
  double count = 0;
  std::array<double, 3> sum{}, sumSquares{};

  double spread(int c) const { return sumSquares[c] - sum[c] * sum[c] / count; }
  double error() const { return spread(0) + spread(1) + spread(2); }
};

Box makeBox(const std::vector<Entry>& entries, size_t begin, size_t end) {
  Box box{begin, end};
  for (size_t i = begin; i < end; ++i) {
    const Colour colour = colourOf(entries[i].key);
    const double n = entries[i].count;
    box.count += n;
    for (int c = 0; c < 3; ++c) {
      box.sum[c] += n * colour.c[c];
      box.sumSquares[c] += n * colour.c[c] * colour.c[c];
    }
  }
  return box;
}

// Splits the box of largest error along its widest channel at the pixel median.
bool splitWorst(std::vector<Entry>& entries, std::vector<Box>& boxes) {
  int worst = -1;
  for (size_t b = 0; b < boxes.size(); ++b)
    if (boxes[b].end - boxes[b].begin > 1 && (worst < 0 || boxes[b].error() > boxes[worst].error()))
      worst = int(b);
  if (worst < 0) return false;
  const Box box = boxes[worst];
  int axis = 0;
  for (int c = 1; c < 3; ++c)
    if (box.spread(c) > box.spread(axis)) axis = c;
  const int shift = 16 - 8 * axis;
  std::sort(entries.begin() + box.begin, entries.begin() + box.end,
            [shift](const Entry& a, const Entry& b) { return (a.key >> shift & 0xff) < (b.key >> shift & 0xff); });
  size_t split = box.begin + 1;
  double below = entries[box.begin].count;
  while (split + 1 < box.end && below + entries[split].count <= box.count / 2) below += entries[split++].count;
  boxes[worst] = makeBox(entries, box.begin, split);
  boxes.push_back(makeBox(entries, split, box.end));
  return true;
}

// The map, sorted by red, searched outwards from the nearest red: a candidate
// whose red alone is farther than the best distance ends that direction.
class NearestSearch {
 public:
  explicit NearestSearch(const std::vector<Colour>& palette) : order_(palette.size()), palette_(palette) {
    for (size_t i = 0; i < order_.size(); ++i) order_[i] = int(i);
    std::sort(order_.begin(), order_.end(), [&](int a, int b) { return palette[a].c[0] < palette[b].c[0]; });
  }

  int find(const Colour& colour) const {
    const auto start = std::lower_bound(order_.begin(), order_.end(), colour.c[0],
                                        [&](int i, int red) { return palette_[i].c[0] < red; });
    int best = -1, bestDistance = 1 << 30;
    const auto consider = [&](int i) {
      const Colour& p = palette_[i];
      const int dr = p.c[0] - colour.c[0];
      if (dr * dr >= bestDistance) return false;
      const int dg = p.c[1] - colour.c[1], db = p.c[2] - colour.c[2];
      const int distance = dr * dr + dg * dg + db * db;
      if (distance < bestDistance) bestDistance = distance, best = i;
      return true;
    };
    for (auto it = start; it != order_.end() && consider(*it); ++it) {}
    for (auto it = start; it != order_.begin() && consider(*(it - 1)); --it) {}
    return best;
  }

 private:
  std::vector<int> order_;
  const std::vector<Colour>& palette_;
};

Colour meanOf(const std::array<double, 3>& sum, double count) {
  Colour mean;
  for (int c = 0; c < 3; ++c) mean.c[c] = std::clamp(int(sum[c] / count + 0.5), 0, 255);
  return mean;
}

// Median cut, then the entries moved to the means of the colours nearest them.
std::vector<Colour> medianCut(std::vector<Entry> entries, int maxColours) {
  std::vector<Box> boxes{makeBox(entries, 0, entries.size())};
  while (int(boxes.size()) < maxColours && splitWorst(entries, boxes)) {}
  std::vector<Colour> palette;
  for (const Box& box : boxes) palette.push_back(meanOf(box.sum, box.count));
  for (int pass = 0; pass < refinements; ++pass) {
    std::vector<std::array<double, 3>> sums(palette.size());
    std::vector<double> counts(palette.size());
    const NearestSearch search(palette);
    for (const Entry& entry : entries) {
      const Colour colour = colourOf(entry.key);
      const int nearest = search.find(colour);
      counts[nearest] += entry.count;
      for (int c = 0; c < 3; ++c) sums[nearest][c] += double(entry.count) * colour.c[c];
    }
    for (size_t i = 0; i < palette.size(); ++i)
      if (counts[i] > 0) palette[i] = meanOf(sums[i], counts[i]);
  }
  return palette;
}

// Every pixel's index through a table over all 2^24 colours; only the
// entries of colours the image has are filled, and only they are read.
void mapEntries(const std::vector<Entry>& entries, const std::vector<uint8_t>& entryIndex, size_t pixels,
                const uint8_t* red, const uint8_t* green, const uint8_t* blue, uint8_t* indices,
                const Progress& progress) {
  std::unique_ptr<uint8_t[]> indexOf(new uint8_t[size_t(1) << 24]);
  for (size_t i = 0; i < entries.size(); ++i) indexOf[entries[i].key] = entryIndex[i];
  for (size_t p = 0; p < pixels; ++p) {
    if (p % pixelsPerReport == 0) progress.report(p, pixels, 60, 99);
    indices[p] = indexOf[keyOf(red[p], green[p], blue[p])];
  }
}

// Floyd-Steinberg in serpentine rows; errors carried in sixteenths.
void dither(int width, int height, const uint8_t* red, const uint8_t* green, const uint8_t* blue,
            const std::vector<Colour>& palette, uint8_t* indices, const Progress& progress) {
  const NearestSearch search(palette);
  const uint8_t* planes[3] = {red, green, blue};
  std::vector<std::array<int, 3>> current(size_t(width) + 2), next(size_t(width) + 2);
  for (int y = 0; y < height; ++y) {
    progress.report(size_t(y), size_t(height), 60, 99);
    const bool leftToRight = y % 2 == 0;
    std::fill(next.begin(), next.end(), std::array<int, 3>{});
    for (int step = 0; step < width; ++step) {
      const int x = leftToRight ? step : width - 1 - step;
      const int ahead = leftToRight ? 1 : -1;
      const size_t p = size_t(y) * size_t(width) + size_t(x);
      Colour wanted;
      for (int c = 0; c < 3; ++c) wanted.c[c] = std::clamp(planes[c][p] + current[x + 1][c] / 16, 0, 255);
      const int chosen = search.find(wanted);
      indices[p] = uint8_t(chosen);
      for (int c = 0; c < 3; ++c) {
        const int error = wanted.c[c] - palette[chosen].c[c];
        current[x + 1 + ahead][c] += error * 7;
        next[x + 1 - ahead][c] += error * 3;
        next[x + 1][c] += error * 5;
        next[x + 1 + ahead][c] += error;
      }
    }
    std::swap(current, next);
  }
}

int quantise(int width, int height, const uint8_t* red, const uint8_t* green, const uint8_t* blue,
             int maxColours, int dithered, uint8_t* indices, int32_t* map, int* colours,
             const Progress& progress) {
  const size_t pixels = size_t(width) * size_t(height);
  progress.report(0);
  const std::vector<Entry> entries = histogram(pixels, red, green, blue, progress);
  std::vector<Colour> palette;
  std::vector<uint8_t> entryIndex(entries.size());
  if (entries.size() <= size_t(maxColours)) {
    for (size_t i = 0; i < entries.size(); ++i) {
      palette.push_back(colourOf(entries[i].key));
      entryIndex[i] = uint8_t(i);
    }
    dithered = 0;
  } else {
    palette = medianCut(entries, maxColours);
    const NearestSearch search(palette);
    for (size_t i = 0; i < entries.size(); ++i) entryIndex[i] = uint8_t(search.find(colourOf(entries[i].key)));
  }
  progress.report(60);
  if (dithered)
    dither(width, height, red, green, blue, palette, indices, progress);
  else
    mapEntries(entries, entryIndex, pixels, red, green, blue, indices, progress);
  // Only the entries some pixel uses, each colour once.
  std::array<bool, PIC_MAX_COLOURS> used{};
  for (size_t p = 0; p < pixels; ++p) used[indices[p]] = true;
  std::array<uint8_t, PIC_MAX_COLOURS> renumbered{};
  int count = 0;
  for (size_t i = 0; i < palette.size(); ++i) {
    if (!used[i]) continue;
    const int32_t colour = picEncodeColour(palette[i].c[0], palette[i].c[1], palette[i].c[2]);
    int slot = 0;
    while (slot < count && map[slot] != colour) ++slot;
    if (slot == count) map[count++] = colour;
    renumbered[i] = uint8_t(slot);
  }
  for (size_t p = 0; p < pixels; ++p) indices[p] = renumbered[indices[p]];
  *colours = count;
  progress.report(100);
  return PIC_OK;
}

}  // namespace

int picQuantise(int width, int height, const uint8_t* red, const uint8_t* green,
                const uint8_t* blue, int maxColours, int dither, uint8_t* indices, int32_t* map,
                int* colours) {
  return picQuantiseWithProgress(width, height, red, green, blue, maxColours, dither, indices, map,
                                 colours, nullptr, nullptr);
}

int picQuantiseWithProgress(int width, int height, const uint8_t* red, const uint8_t* green,
                            const uint8_t* blue, int maxColours, int dither, uint8_t* indices,
                            int32_t* map, int* colours, picQuantiseProgress progress, void* context) {
  if (width <= 0 || height <= 0 || int64_t(width) * height > INT32_MAX || maxColours < 1 ||
      maxColours > PIC_MAX_COLOURS || !red || !green || !blue || !indices || !map || !colours)
    return PIC_ERR_DATA;
  try {
    return quantise(width, height, red, green, blue, maxColours, dither, indices, map, colours,
                    Progress(progress, context));
  } catch (const std::bad_alloc&) {
    return PIC_ERR_DATA;
  } catch (const Progress::Stopped&) {
    return PIC_INTERRUPTED;
  }
}

int picMapIsGrey(int colours, const int32_t* map) {
  for (int i = 0; i < colours; ++i) {
    uint8_t r, g, b;
    picDecodeColour(&r, &g, &b, map[i]);
    if (r != g || g != b) return 0;
  }
  return 1;
}
