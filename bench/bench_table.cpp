// The comparison tables: per file, this library's rate, the fastest peer's,
// their ratio, the time against a memcpy of the same pixels, and the target.
#include "bench_table.h"

#include <algorithm>
#include <cstdio>

#include "bench_images.h"

namespace {

std::map<std::string, std::string>& failures() {
  static std::map<std::string, std::string> table;
  return table;
}

// Below: the rate of the "solsys" measurement, the fastest peer and the targets
// it is judged by.
struct Row {
  std::string label;
  double library = 0, peer = 0;
  std::string peerName = "-";
};

std::string rateText(double rate) {
  char text[32];
  std::snprintf(text, sizeof text, rate > 0 ? "%.1f" : "-", rate);
  return text;
}

std::string ratioText(double ratio) {
  char text[32];
  std::snprintf(text, sizeof text, ratio > 0 ? "%.2fx" : "-", ratio);
  return text;
}

// The fastest measured peer among `peers` for a row of `file`.
void findBestPeer(const RateReporter& rates, const char* kind, int side, const std::string& file, unsigned peers,
                  bool encoder, Row* row) {
  for (unsigned bit = 1; bit <= PEER_LIBPNG; bit <<= 1) {
    if (!(peers & bit)) continue;
    const double rate = rates.rate(benchName(kind, side, file, peerName(bit, encoder)));
    if (rate > row->peer) row->peer = rate, row->peerName = peerName(bit, encoder);
  }
}

// "ok"/"MISS" for each target that applies; the run-length floor is set for
// 4096 x 4096 pictures, and shown beside smaller ones for orientation.
std::string targets(const FileKind& kind, const Row& row, bool mapRow, double memcpyRate) {
  if (row.library <= 0) return "-";
  std::string text;
  auto add = [&](bool met, const char* what) {
    if (!text.empty()) text += ", ";
    text += std::string(what) + (met ? " ok" : " MISS");
  };
  if (row.peer > 0) {
    if (mapRow) add(row.library >= 2 * row.peer, ">=2x giflib");
    else add(row.library >= row.peer, ">=1x peer");
  }
  if (kind.uncompressed && memcpyRate > 0) add(memcpyRate / row.library <= 2, "<=2x memcpy");
  if (!kind.uncompressed && !kind.peers) add(row.library >= 400, ">=400 MP/s");
  return text;
}

void printLoadTable(const RateReporter& rates, int side, bool extraDrivers) {
  const double memcpyRate = rates.rate(benchName("floor", side, "memcpy", ""));
  std::printf("\nLoads, %d x %d (solsys: picImageInfo + picLoadRGB, or picLoadMap)\n\n", side, side);
  std::printf("| file | solsys MP/s | best peer | peer MP/s | solsys / peer | time / memcpy | target |\n");
  std::printf("|---|---:|---|---:|---:|---:|---|\n");
  for (int k = 0; k < fileKindCount; ++k) {
    const FileKind& kind = fileKinds[k];
    for (int mapRow = 0; mapRow <= (kind.mapped ? 1 : 0); ++mapRow) {
      Row row;
      row.label = std::string(kind.label) + (mapRow ? " (map)" : "");
      if (!kind.extraDriver || extraDrivers)
        row.library = rates.rate(benchName("load", side, kind.key, mapRow ? "solsys-map" : "solsys"));
      findBestPeer(rates, "load", side, kind.key, mapRow ? kind.peers & PEER_GIFLIB : kind.peers & ~PEER_GIFLIB,
                   false, &row);
      const double peerRatio = row.library > 0 && row.peer > 0 ? row.library / row.peer : 0;
      const double memcpyRatio = row.library > 0 && memcpyRate > 0 ? memcpyRate / row.library : 0;
      std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", row.label.c_str(), rateText(row.library).c_str(),
                  row.peerName.c_str(), rateText(row.peer).c_str(), ratioText(peerRatio).c_str(),
                  ratioText(memcpyRatio).c_str(), targets(kind, row, mapRow != 0, memcpyRate).c_str());
    }
  }
}

void printSaveTable(const RateReporter& rates, int side, bool extraDrivers) {
  std::printf("\nSaves, %d x %d (solsys: picSaveRGB, or picSaveMap for GIF)\n\n", side, side);
  std::printf("| file | solsys MP/s | best peer | peer MP/s | solsys / peer |\n|---|---:|---|---:|---:|\n");
  for (int k = 0; k < saveKindCount; ++k) {
    const SaveKind& kind = saveKinds[k];
    Row row;
    if (!kind.extraDriver || extraDrivers) row.library = rates.rate(benchName("save", side, kind.key, "solsys"));
    findBestPeer(rates, "save", side, kind.key, kind.peers, true, &row);
    std::printf("| %s | %s | %s | %s | %s |\n", kind.label, rateText(row.library).c_str(), row.peerName.c_str(),
                rateText(row.peer).c_str(),
                ratioText(row.library > 0 && row.peer > 0 ? row.library / row.peer : 0).c_str());
  }
}

void printFloorTable(const RateReporter& rates, const std::vector<int>& sides) {
  std::printf("\nFloors and buffers\n\n| measurement |");
  for (int side : sides) std::printf(" %d MP/s |", side);
  std::printf("\n|---|");
  for (size_t i = 0; i < sides.size(); ++i) std::printf("---:|");
  struct Line {
    const char* label;
    const char* kind;
    const char* file;
    const char* who;
  };
  const Line lines[] = {
      {"memcpy of width x height x 3 bytes", "floor", "memcpy", ""},
      {"split of RGB into three planes (picSplitPixels)", "floor", "split", ""},
      {"BMP 24-bit load, planes reused", "load", "bmp24", "solsys"},
      {"BMP 24-bit load, planes fresh each time", "load", "bmp24", "solsys-fresh"},
  };
  for (const Line& line : lines) {
    std::printf("\n| %s |", line.label);
    for (int side : sides) std::printf(" %s |", rateText(rates.rate(benchName(line.kind, side, line.file, line.who))).c_str());
  }
  std::printf("\n");
}

}  // namespace

std::string benchName(const char* kind, int side, const std::string& file, const std::string& who) {
  std::string name = std::string(kind) + "/" + std::to_string(side) + "/" + file;
  return who.empty() ? name : name + "/" + who;
}

bool RateReporter::ReportContext(const Context&) { return true; }

void RateReporter::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    if (run.run_type != Run::RT_Iteration) continue;
    const std::string name = run.run_name.function_name;
    const auto failure = failures().find(name);
    if (failure != failures().end()) {
      std::fprintf(stderr, "%-40s failed: %s\n", name.c_str(), failure->second.c_str());
      continue;
    }
    const auto items = run.counters.find("items_per_second");
    if (items == run.counters.end()) continue;
    rates_[name].push_back(items->second.value / 1e6);
    repetitions_ = std::max(repetitions_, int(rates_[name].size()));
    std::fprintf(stderr, "%-40s %9.1f MP/s\n", name.c_str(), items->second.value / 1e6);
  }
}

double RateReporter::rate(const std::string& name) const {
  const auto found = rates_.find(name);
  if (found == rates_.end() || found->second.empty()) return 0;
  std::vector<double> values = found->second;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void recordFailure(const std::string& name, const std::string& why) { failures()[name] = why; }

void printTables(const RateReporter& rates, const std::vector<int>& sides, bool extraDrivers) {
  std::printf("\nMP/s: million pixels a second (CPU time), median of %d repetitions; time / memcpy: this\n"
              "library's time over a memcpy of width x height x 3 bytes.\n",
              rates.repetitions());
  for (int side : sides) {
    printLoadTable(rates, side, extraDrivers);
    printSaveTable(rates, side, extraDrivers);
  }
  printFloorTable(rates, sides);
  for (const auto& [name, why] : failures()) std::printf("\nnot measured: %s (%s)", name.c_str(), why.c_str());
  std::printf("\n");
}
