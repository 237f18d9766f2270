// Fuzz target: scene file text through rdk-inspect's streaming check and summary, and through
// the in-memory reader with the pose at its first sample time and a small preview of the scene
// posed there.
#include <string_view>

#include "fuzz/FuzzTargets.h"
#include "tools/rdk/RdkCheck.h"
#include "tools/rdk/RdkPose.h"
#include "tools/rdk/RdkPreview.h"
#include "tools/rdk/RdkReader.h"
#include "tools/rdk/RdkStream.h"
#include "tools/rdk/RdkSummary.h"

namespace raydeck::fuzz {

int sceneFile(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    {
        rdk::MemorySource source(text);
        (void)rdk::checkScene(source);
    }
    {
        rdk::MemorySource source(text);
        rdk::Summary summary;
        rdk::ReadError error;
        (void)rdk::summarize(source, "/nonexistent-fuzz-folder", summary, error);
    }
    rdk::Scene scene;
    rdk::ReadError error;
    if (!rdk::parseScene(std::string_view(reinterpret_cast<const char*>(data), size), scene,
                         error)) {
        return 0;
    }
    const double first = static_cast<double>(rdk::sceneSampleTimes(scene).front()) / 1000.0;
    (void)rdk::scenePose(scene, first);
    rdk::poseScene(scene, first + 0.5);
    rdk::PreviewStats stats;
    (void)rdk::renderPreview(scene, 48, 32, &stats);
    return 0;
}

}  // namespace raydeck::fuzz
