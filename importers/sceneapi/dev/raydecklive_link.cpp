// The renderer link: reading the live library's instance list and scene descriptions, choosing a
// renderer, launching one and waiting for it, and connecting to its Live Link port.
#include "raydecklive_link.h"

#include <tinyxml2.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "Installation.h"
#include "platform/clock.h"
#include "raydecklive_api.h"
#include "raydecklive_loader.h"

namespace trv {
namespace link {

namespace {

using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;

const char kNoSceneApi[] = "Could not get a scene api. Please check your Raydeck installation.\n";
const char kNoQueryApi[] = "Could not get a query api. Please check your Raydeck installation.\n";
const char kNoLaunch[] = "Unabled to launch Raydeck. Please check your Raydeck installation.";
const char kNoPort[] =
    "Could not connect on any known port. Please check your Raydeck installation and Live Link "
    "settings.";

constexpr int kLowestPort = 1;
constexpr int kHighestPort = 65535;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The text of a field as a decimal number: leading blanks skipped, an optional sign, then the
// digits up to the first other character ("7x" and "\n 7\n" read 7). Text without digits reads
// 0. A number beyond 32 bits is no number at all (false): no renderer reports one, and cutting
// it down would make up a version or a port.
bool parseInt(const char* text, int& out) {
    out = 0;
    if (text == nullptr) {
        return true;
    }
    const char* p = text;
    while (isBlank(*p)) {
        ++p;
    }
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') {
        ++p;
    }
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            return false;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value < INT_MIN || value > INT_MAX) {
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

// The first element below `entry` (depth-first, `entry` included) named `tag`. Walks the tree
// through parent links so that deep documents cost no stack.
const XMLElement* firstElementNamed(const XMLElement* entry, const char* tag) {
    const XMLElement* e = entry;
    while (e != nullptr) {
        if (std::strcmp(e->Name(), tag) == 0) {
            return e;
        }
        if (const XMLElement* child = e->FirstChildElement()) {
            e = child;
            continue;
        }
        while (e != entry && e->NextSiblingElement() == nullptr) {
            e = e->Parent()->ToElement();
        }
        if (e == entry) {
            return nullptr;
        }
        e = e->NextSiblingElement();
    }
    return nullptr;
}

// A missing element drops the entry; an element without text or digits reads 0.
bool readField(const XMLElement* entry, const char* tag, int& out) {
    const XMLElement* field = firstElementNamed(entry, tag);
    return field != nullptr && parseInt(field->GetText(), out);
}

// The root element of a text the live library returned; null for no text, text that does not
// parse, or a document without a root element.
const XMLElement* parsedRoot(XMLDocument& doc, const char* text) {
    if (text == nullptr || doc.Parse(text) != tinyxml2::XML_SUCCESS) {
        return nullptr;
    }
    return doc.RootElement();
}

// The element holding the model set `name`, looking `depth` levels deep; a subtree whose
// "modelset" state is anything but "active" does not count.
const XMLElement* findModelSet(const XMLElement* element, const std::string& name, int depth) {
    if (depth <= 0) {
        return nullptr;
    }
    const char* state = element->Attribute("modelset");
    if (state != nullptr && std::strcmp(state, "active") != 0) {
        return nullptr;
    }
    const char* own = element->Attribute("name");
    if (own != nullptr && name == own) {
        return element;
    }
    for (const XMLElement* child = element->FirstChildElement(); child != nullptr;
         child = child->NextSiblingElement()) {
        if (const XMLElement* found = findModelSet(child, name, depth - 1)) {
            return found;
        }
    }
    return nullptr;
}

// The model-set list has entries, but none of them holds anything.
bool isEmptyScene(const XMLElement* root) {
    const XMLElement* sets = root->FirstChildElement();
    if (sets == nullptr) {
        return false;
    }
    for (const XMLElement* set = sets->FirstChildElement(); set != nullptr;
         set = set->NextSiblingElement()) {
        if (set->FirstChildElement() != nullptr) {
            return false;
        }
    }
    return true;
}

bool validPort(int port) {
    return port >= kLowestPort && port <= kHighestPort;
}

}  // namespace

trvScene_api* LinkServices::sceneApi(int minVersion, int maxVersion) {
    return getSceneApi(minVersion, maxVersion);
}

QueryApi* LinkServices::queryApi(int minVersion, int maxVersion) {
    return getQueryApi(minVersion, maxVersion);
}

bool LinkServices::launch(int minVersion, int maxVersion) {
    return Installation::instance().launch(minVersion, maxVersion);
}

int LinkServices::liveLinkPorts(int minVersion, int maxVersion, int& first, int& last) {
    return Installation::instance().liveLinkPorts(minVersion, maxVersion, first, last);
}

void LinkServices::sleepMs(int milliseconds) {
    platform::sleepMs(static_cast<std::uint32_t>(std::max(milliseconds, 0)));
}

std::vector<RendererInstance> listInstances(QueryApi& query, const LinkState& state) {
    std::vector<RendererInstance> list;
    XMLDocument doc;
    const XMLElement* root = parsedRoot(doc, query.instanceList());
    if (root == nullptr) {
        return list;
    }
    for (const XMLElement* entry = root->FirstChildElement(); entry != nullptr;
         entry = entry->NextSiblingElement()) {
        RendererInstance instance;
        if (!readField(entry, "version_major", instance.versionMajor) ||
            instance.versionMajor < state.minVersion || instance.versionMajor > state.maxVersion) {
            continue;
        }
        int processId = 0;
        if (!readField(entry, "process_id", processId) ||
            !readField(entry, "livelink_port", instance.livelinkPort)) {
            continue;
        }
        instance.processId = processId;  // sign-extended, as the library reports it
        list.push_back(instance);
    }
    return list;
}

RendererInstance chooseInstance(QueryApi& query, const std::vector<RendererInstance>& list,
                                LinkState& state) {
    RendererInstance empty;
    RendererInstance any;
    RendererInstance match;
    for (const RendererInstance& entry : list) {
        if (!query.selectInstance(entry.processId)) {
            continue;
        }
        {
            // Parsed before the next call on the query object, which may reuse the text.
            XMLDocument doc;
            const XMLElement* root = parsedRoot(doc, query.sceneInfo());
            if (root != nullptr) {
                const int depth = entry.versionMajor >= 7 ? 4 : 3;
                const bool isEmpty = isEmptyScene(root);
                const bool isMatch = !state.sceneName.empty() &&
                                     findModelSet(root, state.sceneName, depth) != nullptr;
                // Strictly newer only: among equal versions the earlier entry stays.
                if (isEmpty && entry.versionMajor > empty.versionMajor) {
                    empty = entry;
                }
                if (state.acceptAnyInstance && entry.versionMajor > any.versionMajor) {
                    any = entry;
                }
                if (isMatch && entry.versionMajor > match.versionMajor) {
                    match = entry;
                }
            }
        }
        query.releaseInstance();
    }
    state.sceneFound = match.versionMajor > 0;
    if (state.sceneFound) {
        return match;
    }
    if (any.versionMajor > 0) {
        return any;
    }
    if (empty.versionMajor > 0) {
        return empty;
    }
    return RendererInstance();
}

bool connect(LinkState& state, LinkServices& services) {
    state.sceneFound = false;
    state.backend = services.sceneApi(state.minVersion, state.maxVersion);
    if (state.backend == nullptr) {
        state.lastError = kNoSceneApi;
        return false;
    }
    state.backend->id(static_cast<unsigned>(state.sceneId));

    QueryApi* query = services.queryApi(state.minVersion, state.maxVersion);
    if (query == nullptr) {
        state.lastError = kNoQueryApi;
        state.backend = nullptr;
        return false;
    }

    RendererInstance pick = chooseInstance(*query, listInstances(*query, state), state);
    if (pick.versionMajor == 0) {
        if (!services.launch(state.minVersion, state.maxVersion)) {
            state.lastError = kNoLaunch;
            state.backend = nullptr;
            return false;
        }
        // The new renderer needs a while to announce itself.
        for (int pass = 0; pass < state.retries - 1 && pick.versionMajor == 0; ++pass) {
            pick = chooseInstance(*query, listInstances(*query, state), state);
            services.sleepMs(state.retryDelayMs);
        }
    }

    bool ok = false;
    // A port no socket can have (above 65535 the library would wrap it to another renderer's)
    // counts as none reported.
    if (validPort(pick.livelinkPort)) {
        // A renderer that refuses on its own port is not looked for elsewhere.
        ok = state.backend->connect("localhost", static_cast<unsigned>(pick.livelinkPort), 4);
    } else {
        int first = -1;
        int last = -1;
        const int status = services.liveLinkPorts(5, 20, first, last);
        if (status >= -1 && first <= last) {
            // Only real ports are tried; this also keeps the loop clear of INT_MAX.
            const int from = std::max(first, kLowestPort);
            const int to = std::min(last, kHighestPort);
            for (int port = from; port <= to && !ok; ++port) {
                ok = state.backend->connect("127.0.0.1", static_cast<unsigned>(port), 1);
            }
        }
    }
    if (!ok) {
        state.lastError = kNoPort;
        state.backend = nullptr;
        return false;
    }
    return true;
}

bool connect(LinkState& state) {
    LinkServices services;
    return connect(state, services);
}

void release() {
    unloadLive();
}

}  // namespace link
}  // namespace trv
