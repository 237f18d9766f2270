// Pieces every benchmark program needs: a scratch folder that keeps the disk out of the figures,
// a way to reuse a scratch file between iterations, two pieces of work timed in turn, a factory
// over a back end owned elsewhere (the tests' own), a median for side-by-side ratios, and a
// reporter that keeps each benchmark's time and counters for the summary printed at the end.
#pragma once

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <utility>
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

inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Two pieces of work timed side by side, in turn the one and the other first, so that neither
// always finds the caches and the disk as the other left them. run() answers the seconds of
// each; the first call runs `a` first.
class SideBySide {
  public:
    template <typename A, typename B>
    std::pair<double, double> run(A&& a, B&& b) {
        double seconds[2] = {0, 0};
        for (int step = 0; step < 2; ++step) {
            const bool runA = (step == 0) != bFirst_;
            const auto start = std::chrono::steady_clock::now();
            if (runA) {
                a();
            } else {
                b();
            }
            seconds[runA ? 0 : 1] = secondsSince(start);
        }
        bFirst_ = !bFirst_;
        return {seconds[0], seconds[1]};
    }

  private:
    bool bFirst_ = false;
};

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
