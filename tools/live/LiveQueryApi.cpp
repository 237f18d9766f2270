// LiveQueryApi: running renderers and their scenes from the announcements.
#include "tools/live/LiveQueryApi.h"

#include "tools/live/LiveAnnouncement.h"

namespace raydeck::live {

const char* LiveQueryApi::instanceList() {
    answer_ = instanceListXml(liveAnnouncements(folder_));
    return answer_.c_str();
}

bool LiveQueryApi::selectInstance(std::int64_t processId) {
    Announcement a;
    selected_ = findAnnouncement(folder_, processId, a) ? processId : 0;
    return selected_ != 0;
}

bool LiveQueryApi::releaseInstance() {
    const bool had = selected_ != 0;
    selected_ = 0;
    return had;
}

const char* LiveQueryApi::sceneInfo() {
    Announcement a;
    if (selected_ == 0 || !findAnnouncement(folder_, selected_, a)) {
        return nullptr;
    }
    answer_ = sceneInfoXml(a.modelSets);
    return answer_.c_str();
}

}  // namespace raydeck::live
