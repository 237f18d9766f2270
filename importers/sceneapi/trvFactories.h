// Sink factories that own the back end a scene builder writes to: trv::LightFileFactory (scene
// text file or standard output) and trv::RepeatLinkFactory (a running renderer through its live
// library).
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "raydecklive_link.h"
#include "trvSceneapi_oo.h"

class trvScene_api_file;

namespace platform {
class ReplacingFile;
}

namespace trv {

// Writes the scene as text to a file, or to standard output for the path "-". A file is written
// under a temporary name beside it and takes its place only in a successful close(), so an
// export that fails or is abandoned leaves an older file as it was (platform::ReplacingFile).
class LightFileFactory : public LightFactory {
  public:
    // Opens the file (UTF-8 path) and the writer. Throws std::runtime_error
    // ("could not open file: \"<path>\"") after an "opening file" diagnostic on stderr.
    explicit LightFileFactory(std::string path);
    LightFileFactory(const LightFileFactory&) = delete;
    LightFileFactory& operator=(const LightFileFactory&) = delete;

    // Never throws. Without a close() before, the scene is abandoned: the temporary is removed
    // and the target stays as it was (standard output and devices are closed as by close(), a
    // failure swallowed).
    ~LightFileFactory() override;                       // 0
    trvScene_api* backend() override;                   // 1
    void beginScene(trvSceneapi_oo& builder) override;  // 2: the file header
    // Deletes the writer, closes the stream and puts the file in place; a second call does
    // nothing. Throws std::runtime_error("could not close file") after a "closing file"
    // diagnostic on stderr when any write failed or the file cannot be flushed, closed or put
    // in place; the target is then as it was before.
    void close() override;  // 3

    // What the writer made finite so far (trvScene_api_file::clampedValues and firstClamped);
    // 0 and "" once closed.
    size_t clampedValues() const;
    std::string firstClamped() const;

  private:
    trvScene_api_file* backend_ = nullptr;                // owned
    FILE* file_ = nullptr;                                // owned unless replacing_ holds it
    std::unique_ptr<platform::ReplacingFile> replacing_;  // null for standard output
};

// Streams the scene into a running renderer through the renderer's live library.
class RepeatLinkFactory : public LightFactory {
  public:
    RepeatLinkFactory() = default;
    RepeatLinkFactory(const RepeatLinkFactory&) = delete;
    RepeatLinkFactory& operator=(const RepeatLinkFactory&) = delete;

    ~RepeatLinkFactory() override;  // 0
    // Connects when not yet connected; null on failure, with lastError() set to
    // "Failed to connect. " and the reason. Each call after a failure tries again.
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
