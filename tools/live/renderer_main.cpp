// raydeck-renderer: the stand-in renderer. Started with no arguments; every setting comes from
// the environment (see tools/live/README.md).
#include "tools/live/Renderer.h"

int main() {
    raydeck::live::Renderer renderer(raydeck::live::RendererSettings::fromEnvironment());
    return renderer.run();
}
