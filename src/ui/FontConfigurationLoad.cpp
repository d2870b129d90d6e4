#include "FontConfigurationLoad.h"

#include <chrono>
#include <fontconfig/fontconfig.h>
#include <system_error>

namespace tarvo::ui {

FontConfigurationLoad::FontConfigurationLoad() {
    try {
        load_ = std::async(std::launch::async, [] { FcInit(); });
    } catch (const std::system_error&) {
        // No thread: Qt loads the configuration when it needs it.
    }
}

FontConfigurationLoad::~FontConfigurationLoad() {
    if (load_.valid())
        load_.wait();
}

bool FontConfigurationLoad::waitUntilLoaded(int maxMs) {
    return load_.valid() && load_.wait_for(std::chrono::milliseconds(maxMs)) == std::future_status::ready;
}

} // namespace tarvo::ui
