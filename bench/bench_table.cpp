// The comparison tables: per file, this library's rate from disk and from
// memory, the fastest peer's from the same source, their ratios, the time
// against a memcpy of the same pixels, and the target.
#include "bench_table.h"

#include <algorithm>
#include <cstdio>

namespace {

std::map<std::string, std::string>& failures() {
  static std::map<std::string, std::string> table;
  return table;
}

std::map<std::string, size_t>& fileSizes() {
  static std::map<std::string, size_t> table;
  return table;
}

std::string rateText(double rate) {
  char text[32];
  std::snprintf(text, sizeof text, rate > 0 ? "%.1f" : "-", rate);
  return text;
}

// a / b as "1.23x", "-" when either is missing.
std::string ratioText(double a, double b) {
  char text[32];
  std::snprintf(text, sizeof text, a > 0 && b > 0 ? "%.2fx" : "-", a / b);
  return text;
}

// The fastest measured peer among `peers` for one file and source.
struct Best {
  double rate = 0;
  std::string name = "-";
};
Best bestPeer(const RateReporter& rates, const std::string& kind, int side, const std::string& file, unsigned peers,
              const char* source) {
  Best best;
  for (unsigned bit = 1; bit <= PEER_LAST; bit <<= 1) {
    if (!(peers & bit)) continue;
    const bool encoder = kind == "save";
    std::string who = peerName(bit, encoder);
    if (source) who += std::string("/") + source;
    const double rate = rates.rate(benchName(kind.c_str(), side, file, who));
    if (rate > best.rate) best.rate = rate, best.name = peerName(bit, encoder);
  }
  return best;
}

// "ok"/"MISS" for each target that applies, judged on disk loads.
std::string targets(const FileKind& kind, bool mapRow, double library, const Best& peer, double memcpyRate) {
  if (library <= 0) return "-";
  std::string text;
  auto add = [&](bool met, const std::string& what) {
    if (!text.empty()) text += ", ";
    text += what + (met ? " ok" : " MISS");
  };
  char wanted[32];
  if (peer.rate > 0) {
    const double factor = mapRow ? 2.0 : kind.peerTarget;
    std::snprintf(wanted, sizeof wanted, ">=%gx %s", factor, mapRow ? "giflib" : "peer");
    add(library >= factor * peer.rate, wanted);
  }
  if (kind.uncompressed && memcpyRate > 0) add(memcpyRate / library <= 2, "<=2x memcpy");
  if (kind.runLength && !kind.peers) add(library >= 400, ">=400 MP/s");
  return text;
}

void printLoadTable(const RateReporter& rates, int side, const std::vector<FileKind>& kinds) {
  const double memcpyRate = rates.rate(benchName("floor", side, "memcpy", ""));
  std::printf("\nLoads, %d x %d (solsys: picImageInfo + picLoadRGB, or picLoadMap: \"(map)\"), disk files\n"
              "(page cache warm) and memory files; the peer is the fastest on the disk file\n\n",
              side, side);
  std::printf("| file | writer | disk MP/s | memory MP/s | disk time / memory | best peer | peer disk MP/s |"
              " solsys / peer, disk | solsys / peer, memory | disk time / memcpy | target |\n");
  std::printf("|---|---|---:|---:|---:|---|---:|---:|---:|---:|---|\n");
  for (const FileKind& kind : kinds)
    for (int mapRow = 0; mapRow <= (kind.mapped ? 1 : 0); ++mapRow) {
      const std::string who = mapRow ? "solsys-map" : "solsys";
      const double disk = rates.rate(benchName("load", side, kind.key, who + "/disk"));
      const double memory = rates.rate(benchName("load", side, kind.key, who + "/memory"));
      const unsigned peers = mapRow ? kind.peers & PEER_GIFLIB : kind.peers & ~unsigned(PEER_GIFLIB);
      const Best peerDisk = bestPeer(rates, "load", side, kind.key, peers, "disk");
      const Best peerMemory = bestPeer(rates, "load", side, kind.key, peers, "memory");
      std::printf("| %s%s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", kind.label.c_str(),
                  mapRow ? " (map)" : "", kind.writer.c_str(), rateText(disk).c_str(), rateText(memory).c_str(),
                  ratioText(memory, disk).c_str(), peerDisk.name.c_str(), rateText(peerDisk.rate).c_str(),
                  ratioText(disk, peerDisk.rate).c_str(), ratioText(memory, peerMemory.rate).c_str(),
                  ratioText(memcpyRate, disk).c_str(), targets(kind, mapRow != 0, disk, peerDisk, memcpyRate).c_str());
    }
}

void printSaveTable(const RateReporter& rates, int side, const std::vector<SaveKind>& kinds) {
  std::printf("\nSaves to memory, %d x %d (solsys: picSaveRGB, or picSaveMap for 8-bit)\n\n", side, side);
  std::printf("| file | solsys MP/s | best peer | peer MP/s | solsys / peer | file size solsys / peer |\n"
              "|---|---:|---|---:|---:|---:|\n");
  for (const SaveKind& kind : kinds) {
    const double library = rates.rate(benchName("save", side, kind.key, "solsys"));
    const Best peer = bestPeer(rates, "save", side, kind.key, kind.peers, nullptr);
    const auto ours = fileSizes().find(benchName("save", side, kind.key, "solsys"));
    const auto theirs = fileSizes().find(benchName("save", side, kind.key, peer.name));
    const double sizeRatio = ours != fileSizes().end() && theirs != fileSizes().end()
                                 ? double(ours->second) / double(theirs->second)
                                 : 0;
    std::printf("| %s | %s | %s | %s | %s | %s |\n", kind.label.c_str(), rateText(library).c_str(),
                peer.name.c_str(), rateText(peer.rate).c_str(), ratioText(library, peer.rate).c_str(),
                ratioText(sizeRatio, 1).c_str());
  }
}

void printFloorTable(const RateReporter& rates, const std::vector<int>& sides, const std::string& firstFile) {
  std::printf("\nFloors and buffers\n\n| measurement |");
  for (int side : sides) std::printf(" %d MP/s |", side);
  std::printf("\n|---|");
  for (size_t i = 0; i < sides.size(); ++i) std::printf("---:|");
  struct Line {
    const char* label;
    const char* kind;
    std::string file;
    const char* who;
  };
  const Line lines[] = {
      {"memcpy of width x height x 3 bytes", "floor", "memcpy", ""},
      {"split of RGB into three planes (picSplitPixels)", "floor", "split", ""},
      {"BMP 24-bit load from memory, planes reused", "load", firstFile, "solsys/memory"},
      {"BMP 24-bit load from memory, planes fresh each time", "load", firstFile, "solsys-fresh/memory"},
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
    const std::string name = run.run_name.function_name;
    const auto failure = failures().find(name);
    if (failure != failures().end()) {
      if (run.run_type == Run::RT_Iteration) std::fprintf(stderr, "%-48s failed: %s\n", name.c_str(), failure->second.c_str());
      continue;
    }
    const auto items = run.counters.find("items_per_second");
    if (items == run.counters.end()) continue;
    if (run.run_type == Run::RT_Aggregate) {
      if (run.aggregate_name == "median") medians_[name] = items->second.value / 1e6;
      continue;
    }
    rates_[name].push_back(items->second.value / 1e6);
    repetitions_ = std::max(repetitions_, int(rates_[name].size()));
    std::fprintf(stderr, "%-48s %9.1f MP/s\n", name.c_str(), items->second.value / 1e6);
  }
}

double RateReporter::rate(const std::string& name) const {
  const auto median = medians_.find(name);
  if (median != medians_.end()) return median->second;
  const auto found = rates_.find(name);
  if (found == rates_.end() || found->second.empty()) return 0;
  std::vector<double> values = found->second;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void recordFailure(const std::string& name, const std::string& why) { failures()[name] = why; }
void recordFileSize(const std::string& name, size_t bytes) { fileSizes()[name] = bytes; }

void printTables(const RateReporter& rates, const std::vector<int>& sides, const std::vector<FileKind>& loads,
                 const std::vector<SaveKind>& saves) {
  std::printf("\nMP/s: million pixels a second (CPU time), median of %d repetitions; time / memcpy: this\n"
              "library's time over a memcpy of width x height x 3 bytes.\n",
              rates.repetitions());
  for (int side : sides) {
    printLoadTable(rates, side, loads);
    printSaveTable(rates, side, saves);
  }
  printFloorTable(rates, sides, loads.empty() ? "" : loads.front().key);
  for (const auto& [name, why] : failures()) std::printf("\nnot measured: %s (%s)", name.c_str(), why.c_str());
  std::printf("\n");
}
