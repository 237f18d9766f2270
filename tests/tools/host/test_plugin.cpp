// A tiny plug-in for testing raydeck-host without the real one: it starts like a plug-in,
// registers the three command IDs through the host layer, and its Export command writes a short
// listing of the document to the file chosen in the save dialog. Render reports a failure on the
// console; Update writes nothing and succeeds.
#include <cstdio>
#include <string>

#include "plugins/c4d/host/BaseBitmap.h"
#include "plugins/c4d/host/BaseDocument.h"
#include "plugins/c4d/host/BaseObject.h"
#include "plugins/c4d/host/CommandData.h"
#include "plugins/c4d/host/Filename.h"
#include "plugins/c4d/host/HostContext.h"
#include "plugins/c4d/host/Registration.h"

namespace h = raydeck::host;

namespace {

h::Filename* g_pluginPath = nullptr;

void listObject(std::FILE* out, const h::BaseObject& o, int depth) {
    for (h::BaseObject c = o; c; c = c.next()) {
        std::string name;
        c.nameUtf8(name);
        std::fprintf(out, "%*sobject %s type %d id %llu points %d\n", depth * 2, "", name.c_str(),
                     c.type(), static_cast<unsigned long long>(c.guid()), c.points().size());
        listObject(out, c.down(), depth + 1);
    }
}

class TestExport : public h::CommandData {
  public:
    bool execute(h::BaseDocument doc) override {
        h::Filename f;
        f.setDirectory("%USERDATA%");
        f.setFile("untitled");
        f.setSuffix("rdk");
        if (!f.select(RD_HOST_FILESELECT_ANY, RD_HOST_FILESELECT_SAVE, "Export to .rdk", "rdk")) {
            return true;
        }
        const std::string path = f.utf8();
        std::FILE* out = path == "-" ? stdout : std::fopen(path.c_str(), "w");
        if (out == nullptr) {
            h::consolePrint("could not open file: \"" + path + "\"");
            return true;
        }
        h::Filename docName;
        doc.getFilename(RD_HOST_DOC_FILENAME, docName);
        std::fprintf(out, "document %s\n", docName.utf8().c_str());
        listObject(out, h::BaseObject::firstIn(doc), 0);
        if (out != stdout) {
            std::fclose(out);
        } else {
            std::fflush(out);
        }
        return true;
    }
};

class TestRender : public h::CommandData {
  public:
    bool execute(h::BaseDocument) override {
        h::consolePrint("Raydeck: no renderer could be reached");
        return true;
    }
};

class TestUpdate : public h::CommandData {
  public:
    bool execute(h::BaseDocument) override { return true; }
};

void registerOne(int32_t id, const char* name, const char* help, const char* icon,
                 h::CommandData* command) {
    h::BaseBitmap bitmap;
    if (bitmap.init(h::resourceFile(*g_pluginPath, icon)) != RD_HOST_IMAGE_OK) {
        bitmap = h::BaseBitmap(nullptr);
    } else {
        bitmap.setSetting(RD_HOST_BITMAP_SETTING_ICON_SCALE, 1.0);
    }
    if (!h::registerCommand(id, name, 0, std::move(bitmap), help, command)) {
        h::hostDelete(command);
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t c4d_main(int32_t message, void* p1, void*,
                                                                   void* p3) {
    switch (message) {
        case RD_HOST_MSG_START: {
            auto* table = static_cast<const RdHostInterface*>(p1);
            if (table == nullptr || table->apiVersion < RD_HOST_API_VERSION || p3 == nullptr) {
                return -3;
            }
            h::setHostInterface(table);
            g_pluginPath = new h::Filename();
            g_pluginPath->copyFrom(static_cast<const RdHostFilename*>(p3));
            return 1;
        }
        case RD_HOST_MSG_INIT:
            registerOne(1033591, "Render", "Render in Raydeck", "render.png",
                        h::hostNew<TestRender>());
            registerOne(1034393, "Update", "Update Raydeck scene", "update.png",
                        h::hostNew<TestUpdate>());
            registerOne(1034420, "Export", "Export to .rdk", "export.png",
                        h::hostNew<TestExport>());
            return 1;
        case RD_HOST_MSG_END:
            delete g_pluginPath;
            g_pluginPath = nullptr;
            return 1;
        default:
            return -1;
    }
}
