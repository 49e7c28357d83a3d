// Collects the benchmark's rates as they are measured and prints the
// comparison tables (Markdown) at the end.
#ifndef BENCH_BENCH_TABLE_H
#define BENCH_BENCH_TABLE_H

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

// Benchmark names are "load/SIDE/FILE/WHO", "save/SIDE/FILE/WHO" and
// "floor/SIDE/WHAT"; every benchmark counts pixels as items.
std::string benchName(const char* kind, int side, const std::string& file, const std::string& who);

// The display reporter: one short line per measurement on standard error,
// and the rates kept for the tables.
class RateReporter : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context& context) override;
  void ReportRuns(const std::vector<Run>& runs) override;
  // Median million pixels a second over the repetitions; 0 when not measured.
  double rate(const std::string& name) const;
  int repetitions() const { return repetitions_; }

 private:
  std::map<std::string, std::vector<double>> rates_;
  int repetitions_ = 0;
};

// A benchmark that could not run says why here (as well as to the library).
void recordFailure(const std::string& name, const std::string& why);

// The load, save and floor tables for the sides measured.
void printTables(const RateReporter& rates, const std::vector<int>& sides, bool extraDrivers);

#endif
