// Collects the benchmark's rates as they are measured and prints the
// comparison tables (Markdown) at the end.
#ifndef BENCH_BENCH_TABLE_H
#define BENCH_BENCH_TABLE_H

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

#include "bench_kinds.h"

// Benchmark names are "load/SIDE/FILE/WHO/SOURCE" (SOURCE: disk or memory),
// "save/SIDE/FILE/WHO" and "floor/SIDE/WHAT"; every benchmark counts pixels as items.
std::string benchName(const char* kind, int side, const std::string& file, const std::string& who);

// The display reporter: one short line per repetition on standard error, and
// the medians kept for the tables (Google Benchmark's median aggregate when
// it reports one, else the median of the repetitions seen).
class RateReporter : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context& context) override;
  void ReportRuns(const std::vector<Run>& runs) override;
  // Median million pixels a second; 0 when not measured.
  double rate(const std::string& name) const;
  int repetitions() const { return repetitions_; }

 private:
  std::map<std::string, std::vector<double>> rates_;
  std::map<std::string, double> medians_;
  int repetitions_ = 0;
};

// A benchmark that could not run says why here (as well as to the library).
void recordFailure(const std::string& name, const std::string& why);
// The size of the file a save benchmark wrote.
void recordFileSize(const std::string& name, size_t bytes);

// The load, save and floor tables for the sides measured.
void printTables(const RateReporter& rates, const std::vector<int>& sides, const std::vector<FileKind>& loads,
                 const std::vector<SaveKind>& saves);

#endif
