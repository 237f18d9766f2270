// Fuzz target: scene file text through rdk-inspect's reader, then its check, summary, the pose at
// its first sample time and a small preview of the scene posed there.
#include <string_view>

#include "fuzz/FuzzTargets.h"
#include "tools/rdk/RdkCheck.h"
#include "tools/rdk/RdkPose.h"
#include "tools/rdk/RdkPreview.h"
#include "tools/rdk/RdkReader.h"
#include "tools/rdk/RdkSummary.h"

namespace raydeck::fuzz {

int sceneFile(const std::uint8_t* data, std::size_t size) {
    rdk::Scene scene;
    rdk::ReadError error;
    if (!rdk::parseScene(std::string_view(reinterpret_cast<const char*>(data), size), scene,
                         error)) {
        return 0;
    }
    (void)rdk::checkScene(scene);
    (void)rdk::summarize(scene, "/nonexistent-fuzz-folder");
    const double first = static_cast<double>(rdk::sceneSampleTimes(scene).front()) / 1000.0;
    (void)rdk::scenePose(scene, first);
    rdk::poseScene(scene, first + 0.5);
    rdk::PreviewStats stats;
    (void)rdk::renderPreview(scene, 48, 32, &stats);
    return 0;
}

}  // namespace raydeck::fuzz
