// Pieces every benchmark program needs: a scratch folder that keeps the disk out of the figures,
// a way to reuse a scratch file between iterations, a factory over a back end owned elsewhere
// (the tests' own), a median for side-by-side ratios, and a reporter that keeps each benchmark's
// time and counters for the summary printed at the end.
#pragma once

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "tests/support/BorrowedFactory.h"

namespace raydeck::bench {

// A fresh folder on /dev/shm when there is one, else in the temporary folder; removed with the
// object.
class ScratchDir {
  public:
    ScratchDir() {
        const std::string base = std::filesystem::exists("/dev/shm")
                                     ? std::string("/dev/shm")
                                     : std::filesystem::temp_directory_path().string();
        std::string pattern = base + "/raydeck-bench-XXXXXX";
        if (mkdtemp(&pattern[0]) != nullptr) {
            dir_ = pattern;
        }
    }
    ~ScratchDir() {
        if (!dir_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(dir_, ignored);
        }
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    bool ok() const { return !dir_.empty(); }
    const std::string& folder() const { return dir_; }
    std::string path(const char* name) const { return dir_ + "/" + name; }
    // The file `name` in the folder, created or emptied; null without a folder.
    FILE* open(const char* name) const {
        return ok() ? std::fopen(path(name).c_str(), "wb+") : nullptr;
    }

  private:
    std::string dir_;
};

// Empties a scratch file and moves back to its start, so that every iteration writes the same
// bytes to an empty file.
inline void restart(FILE* f) {
    std::fflush(f);
    if (ftruncate(fileno(f), 0) != 0) {
        // The rewind alone keeps the file from growing.
    }
    std::rewind(f);
}

// The median of `values` (0 when empty).
inline double median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// The console report, plus the real time per iteration of every benchmark by its base name
// (without the "/min_time:..." suffixes), in seconds, and its counters.
class Collector : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> seconds;
    std::map<std::string, std::map<std::string, double>> counters;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                const std::string name = run.benchmark_name();
                const std::string base = name.substr(0, name.find('/'));
                seconds[base] =
                    run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
                for (const auto& counter : run.counters) {
                    counters[base][counter.first] = counter.second.value;
                }
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace raydeck::bench
