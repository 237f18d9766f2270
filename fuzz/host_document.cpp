// Fuzz target: a host document through the simulator's loader, then evaluated at its own time
// and at a few others (tracks, matrices, selection, every object).
#include <string>

#include "fuzz/FuzzTargets.h"
#include "tools/host/SimDocument.h"

namespace raydeck::fuzz {

int hostDocument(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto doc = hostsim::loadDocumentText(text, "fuzz.c4d", "/nonexistent-fuzz-folder", error);
    if (!doc) {
        return 0;
    }
    doc->evaluate();
    for (double t : {-1.0, 0.5, 1e9}) {
        doc->time = RdHostTime{t, 1.0};
        doc->evaluate();
    }
    for (hostsim::SimObject* object : doc->allObjects()) {
        object->updateMatrix();
    }
    (void)doc->selection();
    return 0;
}

}  // namespace raydeck::fuzz
