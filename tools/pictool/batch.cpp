// pictool convert --to FORMAT FILE...: every file through the same conversion
// as a single one (the same safe output), several at once. Outputs are named
// and checked before anything is read or written: two files that would write
// one name, or a file that would replace itself, are not converted.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tools/pictool/formats.h"
#include "tools/pictool/parallel.h"
#include "tools/pictool/progress_bar.h"
#include "tools/pictool/signals.h"
#include "tools/pictool/subcommands.h"

namespace pictool {

namespace {

// "photos/a.jpg" to "photos/a.png", or "DIR/a.png" with an output folder.
std::string outputName(const std::string& input, const std::string& outDir, const std::string& extension) {
  const size_t slash = input.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "" : input.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? input : input.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  if (outDir.empty()) return folder + name + extension;
  return outDir + (outDir.back() == '/' ? "" : "/") + name + extension;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat first, second;
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// The reason a file is not converted, or empty: checked for all before any is.
std::vector<std::string> refusals(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs) {
  std::vector<std::string> reasons(inputs.size());
  std::map<std::string, std::vector<size_t>> writers;
  for (size_t i = 0; i < inputs.size(); ++i) writers[outputs[i]].push_back(i);
  for (const auto& output : writers) {
    if (output.second.size() < 2) continue;
    for (size_t i : output.second) {
      std::string others;
      for (size_t j : output.second)
        if (j != i) others += std::string(others.empty() ? "" : ", ") + inputs[j];
      reasons[i] = "not converted: " + others + " would be written to the same " + output.first;
    }
  }
  for (size_t i = 0; i < inputs.size(); ++i)
    if (reasons[i].empty() && (inputs[i] == outputs[i] || sameFile(inputs[i], outputs[i])))
      reasons[i] = "not converted: its output " + outputs[i] + " would replace it";
  return reasons;
}

// "converted 3 of 16 files [####.....]", from any worker.
class FilesDone {
 public:
  FilesDone(bool wanted, size_t total) : bar_(wanted, "files"), total_(total) {}
  void add() {
    const std::lock_guard<std::mutex> lock(lock_);
    ++done_;
    bar_.show(label_.assign(std::to_string(done_) + " of " + std::to_string(total_)).c_str(),
              int(done_ * 100 / total_));
  }
  void erase() {
    const std::lock_guard<std::mutex> lock(lock_);
    bar_.erase();
  }

 private:
  std::mutex lock_;
  ProgressBar bar_;
  size_t total_, done_ = 0;
  std::string label_;
};

}  // namespace

int runBatch(const BatchRequest& batch, const CommonOptions& options) {
  const Format& target = *batch.options.format;
  const std::string extension = batch.options.grey ? ".pgm" : usualExtension(target);
  std::vector<std::string> outputs;
  for (const std::string& input : batch.inputs) outputs.push_back(outputName(input, batch.outDir, extension));
  const std::vector<std::string> reasons = refusals(batch.inputs, outputs);
  for (size_t i = 0; i < reasons.size(); ++i)
    if (!reasons[i].empty()) std::fprintf(stderr, "pictool: %s: %s\n", batch.inputs[i].c_str(), reasons[i].c_str());

  const int jobs = jobCount(options.jobs, batch.inputs.size());
  // One file at a time shows the file's own bar, numbered; several show files done.
  CommonOptions each = options;
  each.quiet = options.quiet || jobs > 1;
  FilesDone filesDone(!options.quiet && jobs > 1, batch.inputs.size());
  std::vector<int> statuses(batch.inputs.size(), exitFailure);
  catchEndingSignals();
  runInParallel(batch.inputs.size(), jobs, [&](size_t i) {
    if (reasons[i].empty()) {
      ConvertRequest request = batch.options;
      request.input = batch.inputs[i];
      request.output = outputs[i];
      request.progressName = std::to_string(i + 1) + "/" + std::to_string(batch.inputs.size()) + " " + request.input;
      statuses[i] = runConvert(request, each);
    }
    filesDone.add();
  });
  filesDone.erase();
  restoreEndingSignals();
  for (int status : statuses)
    if (status != exitSuccess) return exitFailure;
  return exitSuccess;
}

}  // namespace pictool
