#pragma once

#include <future>

namespace tarvo::ui {

// Loads the system's font configuration on another core while the program starts. Qt loads it on the
// main thread when the first text is measured; on a desktop with its usual fonts that takes several
// milliseconds, the largest single part of bringing the window up. Fontconfig keeps one configuration
// for the process and may be called from any thread, so Qt later finds it loaded.
class FontConfigurationLoad {
public:
    // Starts the load. Without a thread to spare it does nothing, and Qt loads the configuration itself.
    FontConfigurationLoad();
    // Waits for a load still running: the process must not end under it.
    ~FontConfigurationLoad();
    FontConfigurationLoad(const FontConfigurationLoad&) = delete;
    FontConfigurationLoad& operator=(const FontConfigurationLoad&) = delete;

    // Waits at most maxMs for the load; true once it is done. A caller that goes on earlier is not wrong,
    // only slower: Qt then loads a configuration of its own alongside.
    bool waitUntilLoaded(int maxMs);

private:
    std::future<void> load_;
};

} // namespace tarvo::ui
