// The host interface table of the simulator, first half: memory, console and status bar, strings,
// file names, bitmaps, command registration, and the table itself (SimHostDocument.cpp fills the
// document and node slots). Handles are the model's own objects: a node handle is a SimNode*, a
// document handle a SimDocument*; strings, file names, bitmaps, atom arrays and hair guides are
// small structs (SimHostHandles.h) owned by whoever the table's contract says.
#include "tools/host/SimHost.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/file.h"
#include "platform/utf.h"
#include "plugins/c4d/host/CommandData.h"
#include "plugins/c4d/host/HostNumbers.h"
#include "tools/host/SimHostHandles.h"

namespace raydeck::hostsim {

namespace {

using namespace handles;

SimHost* g_current = nullptr;

// --- memory and console ---------------------------------------------------------------------
}  // namespace

void* handles::memAlloc(size_t size) {
    void* p = std::calloc(1, size == 0 ? 1 : size);
    if (p) {
        count(+1);
    }
    return p;
}

namespace {

void memFree(void* block) {
    if (block) {
        std::free(block);
        count(-1);
    }
}
void consolePrint(const char* line) {
    if (g_current) {
        g_current->addConsoleLine(line ? line : "");
    }
}
void statusSetProgress(const char* text, int32_t percent) {
    if (g_current) {
        g_current->addStatus({text ? text : "", percent < 0 ? -1 : std::min(percent, 100)});
    }
}

// --- strings --------------------------------------------------------------------------------
RdHostString* stringAlloc() {
    count(+1);
    return reinterpret_cast<RdHostString*>(new SimString());
}
void stringFree(RdHostString* s) {
    if (s) {
        delete str(s);
        count(-1);
    }
}
int32_t stringSetCString(RdHostString* s, const char* text, int32_t len, int32_t encoding) {
    if (!s || encoding != RD_HOST_ENCODING_UTF8 || len < 0 || (len > 0 && !text)) {
        return 0;
    }
    str(s)->text.assign(text ? text : "", static_cast<size_t>(len));
    return 1;
}
char* stringGetCString(const RdHostString* s, int32_t encoding) {
    // An empty text is handed out as an empty copy, as the application does: the plug-in tells
    // "no name" from "cannot be read" by it.
    if (!s || encoding != RD_HOST_ENCODING_UTF8) {
        return nullptr;
    }
    const std::string& t = str(s)->text;
    char* out = static_cast<char*>(memAlloc(t.size() + 1));
    if (out) {
        std::memcpy(out, t.data(), t.size());
    }
    return out;
}
int32_t stringCopy(RdHostString* dst, const RdHostString* src) {
    if (!dst || !src) {
        return 0;
    }
    str(dst)->text = str(src)->text;
    return 1;
}
}  // namespace

void handles::setText(RdHostString* out, const std::string& text) {
    if (out) {
        str(out)->text = text;
    }
}

namespace {

// --- file names -----------------------------------------------------------------------------
size_t lastSeparator(const std::string& p) {
    return p.find_last_of("/\\");
}
std::string directoryOf(const std::string& p) {
    size_t s = lastSeparator(p);
    if (s == std::string::npos) {
        return "";
    }
    return s == 0 ? p.substr(0, 1) : p.substr(0, s);
}
std::string fileOf(const std::string& p) {
    size_t s = lastSeparator(p);
    return s == std::string::npos ? p : p.substr(s + 1);
}
std::string join(const std::string& dir, const std::string& file, char separator = '/') {
    if (dir.empty()) {
        return file;
    }
    if (file.empty()) {
        return dir;
    }
    const char last = dir.back();
    return last == '/' || last == '\\' ? dir + file : dir + separator + file;
}

}  // namespace

std::string handles::SimFilename::path() const {
    return join(directory, file, separator);
}
void handles::SimFilename::set(const std::string& p) {
    directory = directoryOf(p);
    file = fileOf(p);
    const size_t s = lastSeparator(p);
    separator = s == std::string::npos ? '/' : p[s];
}

namespace {

RdHostFilename* filenameAlloc() {
    count(+1);
    return reinterpret_cast<RdHostFilename*>(new SimFilename());
}
void filenameFree(RdHostFilename* f) {
    if (f) {
        delete fname(f);
        count(-1);
    }
}
int32_t filenameCopy(RdHostFilename* dst, const RdHostFilename* src) {
    if (!dst || !src) {
        return 0;
    }
    *fname(dst) = *fname(src);
    return 1;
}
int32_t filenameSetString(RdHostFilename* f, const RdHostString* text) {
    if (!f || !text) {
        return 0;
    }
    fname(f)->set(str(text)->text);
    return 1;
}
int32_t filenameGetString(const RdHostFilename* f, RdHostString* out) {
    if (!f || !out) {
        return 0;
    }
    str(out)->text = fname(f)->path();
    return 1;
}
int32_t filenameSetDirectory(RdHostFilename* f, const RdHostString* directory) {
    if (!f || !directory) {
        return 0;
    }
    fname(f)->directory = str(directory)->text;
    return 1;
}
int32_t filenameSetFile(RdHostFilename* f, const RdHostString* file) {
    if (!f || !file) {
        return 0;
    }
    fname(f)->file = str(file)->text;
    return 1;
}
int32_t filenameSetSuffix(RdHostFilename* f, const RdHostString* suffix) {
    if (!f || !suffix) {
        return 0;
    }
    std::string& file = fname(f)->file;
    size_t dot = file.find_last_of('.');
    if (dot != std::string::npos && dot > 0) {
        file.erase(dot);
    }
    if (!str(suffix)->text.empty()) {
        file += "." + str(suffix)->text;
    }
    return 1;
}
int32_t filenameIsEmpty(const RdHostFilename* f) {
    return !f || fname(f)->path().empty() ? 1 : 0;
}
int32_t filenameGetFile(const RdHostFilename* f, RdHostFilename* out) {
    if (!f || !out) {
        return 0;
    }
    fname(out)->set(fname(f)->file);
    return 1;
}
int32_t filenameGetDirectory(const RdHostFilename* f, RdHostFilename* out) {
    if (!f || !out) {
        return 0;
    }
    fname(out)->set(fname(f)->directory);
    return 1;
}
int32_t filenameAppend(RdHostFilename* f, const RdHostString* component) {
    if (!f || !component) {
        return 0;
    }
    fname(f)->set(join(fname(f)->path(), str(component)->text, fname(f)->separator));
    return 1;
}
int32_t fileSelect(RdHostFilename* f, int32_t type, int32_t mode, const RdHostString* title,
                   const RdHostString* forcedSuffix) {
    if (!f || !g_current) {
        return 0;
    }
    SimHost::DialogCall call;
    call.initialName = fname(f)->path();
    call.type = type;
    call.mode = mode;
    call.title = title ? str(title)->text : "";
    call.forcedSuffix = forcedSuffix ? str(forcedSuffix)->text : "";
    std::optional<std::string> answer = g_current->answerDialog(call);
    if (!answer) {
        return 0;
    }
    fname(f)->set(*answer);
    return 1;
}

// --- bitmaps --------------------------------------------------------------------------------
RdHostBitmap* bitmapAlloc() {
    count(+1);
    return reinterpret_cast<RdHostBitmap*>(new SimBitmap());
}
void bitmapFree(RdHostBitmap* b) {
    if (b) {
        delete reinterpret_cast<SimBitmap*>(b);
        count(-1);
    }
}
// Loads PNG files: checks the signature and takes the size from the header chunk.
int32_t bitmapInit(RdHostBitmap* b, const RdHostFilename* file) {
    if (!b || !file) {
        return RD_HOST_IMAGE_NOT_EXISTING;
    }
    // By its UTF-16 name: a narrow name on Windows is in the ANSI code page, which may not hold
    // the plug-in's folder.
    std::u16string wide;
    FILE* in = nullptr;
    if (!platform::utf8ToUtf16(fname(file)->path(), wide).ok() ||
        !platform::openFile(wide, u"rb", in).ok()) {
        return RD_HOST_IMAGE_NOT_EXISTING;
    }
    unsigned char head[24] = {0};
    const std::size_t got = std::fread(head, 1, sizeof head, in);
    std::fclose(in);
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (got < 24 || std::memcmp(head, signature, 8) != 0 ||
        std::memcmp(head + 12, "IHDR", 4) != 0) {
        return RD_HOST_IMAGE_WRONG_TYPE;
    }
    auto be32 = [&](int at) {
        return static_cast<int32_t>((uint32_t(head[at]) << 24) | (uint32_t(head[at + 1]) << 16) |
                                    (uint32_t(head[at + 2]) << 8) | uint32_t(head[at + 3]));
    };
    SimBitmap* bm = reinterpret_cast<SimBitmap*>(b);
    bm->path = fname(file)->path();
    bm->width = be32(16);
    bm->height = be32(20);
    return RD_HOST_IMAGE_OK;
}
int32_t bitmapSetSetting(RdHostBitmap* b, int32_t id, double value) {
    if (!b || id != RD_HOST_BITMAP_SETTING_ICON_SCALE) {
        return 0;
    }
    reinterpret_cast<SimBitmap*>(b)->iconScale = value;
    return 1;
}

// --- registration and libraries -------------------------------------------------------------
int32_t registerCommand(int32_t apiVersion, int32_t pluginKind, int32_t pluginId,
                        const RdHostString* name, int32_t info, RdHostBitmap* icon,
                        const RdHostString* help, void* commandData) {
    if (!g_current || !commandData || apiVersion < RD_HOST_API_VERSION ||
        pluginKind != RD_HOST_PLUGIN_KIND_COMMAND) {
        return 0;
    }
    SimHost::Registration r;
    r.pluginId = pluginId;
    r.apiVersion = apiVersion;
    r.pluginKind = pluginKind;
    r.info = info;
    r.name = name ? str(name)->text : "";
    r.help = help ? str(help)->text : "";
    if (icon) {
        const SimBitmap* bm = reinterpret_cast<const SimBitmap*>(icon);
        r.icon = fileOf(bm->path);
        r.iconScale = bm->iconScale;
        g_current->adoptIcon(icon);
        count(-1);
    }
    r.command = commandData;
    count(-1);  // the command's block now belongs to the host
    g_current->addRegistration(r);
    return 1;
}

int32_t libraryAvailable(int32_t id) {
    SimDocument* d = g_current ? g_current->activeDocument() : nullptr;
    if (id == RD_HOST_LIBRARY_HAIR) {
        return d == nullptr || d->hairService ? 1 : 0;
    }
    if (id == RD_HOST_LIBRARY_GRADIENT) {
        return gradientService() ? 1 : 0;
    }
    return 0;
}

RdHostInterface makeTable() {
    RdHostInterface t;
    std::memset(&t, 0, sizeof t);
    t.apiVersion = RD_HOST_API_VERSION;
    t.structSize = sizeof(RdHostInterface);
    t.memAlloc = memAlloc;
    t.memFree = memFree;
    t.consolePrint = consolePrint;
    t.registerCommand = registerCommand;
    t.stringAlloc = stringAlloc;
    t.stringFree = stringFree;
    t.stringSetCString = stringSetCString;
    t.stringGetCString = stringGetCString;
    t.stringCopy = stringCopy;
    t.filenameAlloc = filenameAlloc;
    t.filenameFree = filenameFree;
    t.filenameCopy = filenameCopy;
    t.filenameSetString = filenameSetString;
    t.filenameGetString = filenameGetString;
    t.filenameSetDirectory = filenameSetDirectory;
    t.filenameSetFile = filenameSetFile;
    t.filenameSetSuffix = filenameSetSuffix;
    t.filenameIsEmpty = filenameIsEmpty;
    t.filenameGetFile = filenameGetFile;
    t.filenameGetDirectory = filenameGetDirectory;
    t.filenameAppend = filenameAppend;
    t.fileSelect = fileSelect;
    t.bitmapAlloc = bitmapAlloc;
    t.bitmapFree = bitmapFree;
    t.bitmapInit = bitmapInit;
    t.bitmapSetSetting = bitmapSetSetting;
    t.libraryAvailable = libraryAvailable;
    t.statusSetProgress = statusSetProgress;
    addDocumentSlots(t);
    return t;
}

const RdHostInterface g_table = makeTable();

}  // namespace

SimHost::SimHost() {
    g_current = this;
}

SimHost::~SimHost() {
    for (RdHostBitmap* icon : icons_) {
        delete reinterpret_cast<SimBitmap*>(icon);
    }
    if (g_current == this) {
        g_current = nullptr;
    }
}

const RdHostInterface* SimHost::table() const {
    return &g_table;
}

SimHost* SimHost::current() {
    return g_current;
}

void SimHost::destroyCommands() {
    for (Registration& r : registrations_) {
        if (r.command) {
            auto* command = static_cast<raydeck::host::CommandData*>(r.command);
            command->~CommandData();
            std::free(r.command);
            r.command = nullptr;
        }
    }
}

}  // namespace raydeck::hostsim
