// RdkPreview: a quick picture of a scene: its first camera (or a framing view of the bounding
// box when it has none), triangles filled with their material's diffuse colour under a
// headlight, a z-buffer, curves as lines, and a fixed background colour. Written as PNG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/rdk/RdkReader.h"

namespace rdk {

// The background colour of every preview (RGB).
constexpr uint8_t kPreviewBackground[3] = {48, 48, 56};

struct PreviewImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // width * height * 3 bytes, rows top to bottom
};

struct PreviewStats {
    bool fromCamera = false;  // false: a framing view of the bounding box
    std::string camera;       // name of the camera used
    size_t triangles = 0;     // triangles sent to the rasteriser
    size_t pixels = 0;        // pixels covered by geometry
};

// Renders the scene at width x height (both at least 1).
PreviewImage renderPreview(const Scene& scene, int width, int height, PreviewStats* stats);

// Writes an 8-bit RGB PNG; false with `reason` when the file cannot be written.
bool writePng(const std::string& path, const PreviewImage& image, std::string& reason);

}  // namespace rdk
