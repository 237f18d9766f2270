// ProgressLine: the plug-in's progress, as the host's status bar gets it, and during Render and
// Update the renderer's import, drawn by raydeck-host as one line that redraws itself on a
// terminal. Off a terminal it draws nothing, so that logs and pipes get no carriage returns. Safe
// to call from two threads (the command's and the renderer watcher's).
#pragma once

#include <mutex>
#include <ostream>
#include <string>

namespace raydeck::hostsim {

class ProgressLine {
  public:
    ProgressLine(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}
    ~ProgressLine() { clear(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Shows `text` at `percent`; a negative percent clears the line.
    void update(const std::string& text, int percent);
    // Takes the line away, so that the next output starts on a clean line.
    void clear();

    // The line's text: "raydeck-host: 42% Cube", the name cut (at a whole character) so that
    // the line fits `width` columns.
    static std::string format(const std::string& text, int percent, size_t width);

  private:
    void clearLocked();

    std::mutex mutex_;
    std::ostream& out_;
    bool terminal_;
    bool shown_ = false;
};

}  // namespace raydeck::hostsim
