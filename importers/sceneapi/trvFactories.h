// Sink factories that own the back end a scene builder writes to: trv::LightFileFactory (scene
// text file or standard output) and trv::RepeatLinkFactory (a running renderer through its live
// library).
#pragma once

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "raydecklive_link.h"
#include "trvSceneapi_oo.h"

class trvScene_api_file;

namespace platform {
class ReplacingFile;
}

namespace trv {

// What the file factory throws: what() is the fixed text ("could not open file: \"<path>\"",
// "could not close file"); explanation() is the one line a user needs, with the file and the
// system's reason ("could not close file: \"<path>\": No space left on device"; standard
// output is named as such), the same line the factory keeps as its lastError().
class FileSinkError : public std::runtime_error {
  public:
    FileSinkError(const std::string& what, std::string explanation)
        : std::runtime_error(what), explanation_(std::move(explanation)) {}
    const std::string& explanation() const { return explanation_; }

  private:
    std::string explanation_;
};

// Writes the scene as text to a file, or to standard output for the path "-". A file is written
// under a temporary name beside it and takes its place when the factory is closed or destroyed;
// an export whose conversion threw or was cancelled leaves an older file as it was
// (platform::ReplacingFile).
class LightFileFactory : public LightFactory {
  public:
    // Opens the file (UTF-8 path) and the writer. Throws FileSinkError
    // ("could not open file: \"<path>\"") after an "opening file" diagnostic on stderr.
    explicit LightFileFactory(std::string path);
    LightFileFactory(const LightFileFactory&) = delete;
    LightFileFactory& operator=(const LightFileFactory&) = delete;

    // Never throws. Finishes the scene as close() does (a failure is reported on stderr and
    // swallowed), unless an exception that began after the constructor is unwinding or cancel()
    // ran: then the scene is abandoned, the temporary removed and the target left as it was.
    ~LightFileFactory() override;                       // 0
    trvScene_api* backend() override;                   // 1
    void beginScene(trvSceneapi_oo& builder) override;  // 2: the file header
    // Deletes the writer, closes the stream and puts the file in place; a second call does
    // nothing. Throws FileSinkError("could not close file") after a "closing file" diagnostic
    // on stderr when any write failed or the file cannot be flushed, closed or put in place;
    // the target is then as it was before.
    void close() override;  // 3

    // Abandons the scene of a conversion that did not finish: the temporary goes, the target
    // stays as it was (standard output and devices are closed). close() and the destructor then
    // do nothing.
    void cancel();

    // What the writer made finite so far (trvScene_api_file::clampedValues and firstClamped);
    // 0 and "" once closed.
    size_t clampedValues() const;
    std::string firstClamped() const;

    // The one line that explains the last failure, as the live factory keeps its own: the file,
    // and the reason the system gave. Empty while nothing failed.
    const std::string& lastError() const { return lastError_; }

  private:
    std::string path_;
    trvScene_api_file* backend_ = nullptr;                // owned
    FILE* file_ = nullptr;                                // owned unless replacing_ holds it
    std::unique_ptr<platform::ReplacingFile> replacing_;  // null for standard output
    int uncaught_ = 0;  // exceptions in flight when the factory was made
    std::string lastError_;
};

// Streams the scene into a running renderer through the renderer's live library.
class RepeatLinkFactory : public LightFactory {
  public:
    RepeatLinkFactory() = default;
    RepeatLinkFactory(const RepeatLinkFactory&) = delete;
    RepeatLinkFactory& operator=(const RepeatLinkFactory&) = delete;

    ~RepeatLinkFactory() override;  // 0
    // Connects when not yet connected; null on failure, with lastError() set to
    // "Failed to connect. " and the reason. Each call after a failure tries again. Failures are
    // reported by lastError() alone, as the file factory's are also kept there; nothing throws.
    trvScene_api* backend() override;                   // 1
    void beginScene(trvSceneapi_oo& builder) override;  // 2: nothing
    // Disconnects and unloads the live library when connected; otherwise nothing. When the
    // disconnect fails, lastError() tells that the scene did not arrive whole.
    void close() override;  // 3

    void setSceneName(std::string name) { link_.sceneName = std::move(name); }
    void setAcceptAnyInstance(bool any) { link_.acceptAnyInstance = any; }
    void setVersionRange(int minVersion, int maxVersion) {
        link_.minVersion = minVersion;
        link_.maxVersion = maxVersion;
    }
    bool sceneFound() const { return link_.sceneFound; }
    const std::string& lastError() const { return link_.lastError; }
    // Every setting and answer of the link (retries, delays, version range, scene id, ...).
    const link::LinkState& state() const { return link_; }

  protected:
    // The connection attempt behind backend(); on false link_.lastError holds the reason.
    virtual bool connect();  // 4

    link::LinkState link_;
};

}  // namespace trv
