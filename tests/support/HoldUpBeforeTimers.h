#pragma once

#include <chrono>
#include <dlfcn.h>
#include <thread>
#include <utility>

namespace tarvo::test {

// Holds this thread up once, after the event loop has polled the ports and before it looks at its timers:
// where a busy machine can take the processor away. Qt runs on the glib main loop here; a source of a
// higher priority than Qt's own is checked first, and its check waits. The glib functions are looked up
// in the process (Qt has loaded glib), so the test needs no glib headers; without them it cannot run.
class HoldUpBeforeTimers {
public:
    HoldUpBeforeTimers() {
        newSource_ = reinterpret_cast<NewSource>(dlsym(RTLD_DEFAULT, "g_source_new"));
        attach_ = reinterpret_cast<Attach>(dlsym(RTLD_DEFAULT, "g_source_attach"));
        setPriority_ = reinterpret_cast<SetPriority>(dlsym(RTLD_DEFAULT, "g_source_set_priority"));
        destroy_ = reinterpret_cast<Release>(dlsym(RTLD_DEFAULT, "g_source_destroy"));
        unref_ = reinterpret_cast<Release>(dlsym(RTLD_DEFAULT, "g_source_unref"));
        if (!newSource_ || !attach_ || !setPriority_ || !destroy_ || !unref_)
            return;
        // Room for glib's GSource, whose size this file does not know.
        source_ = newSource_(&funcs_, 512);
        setPriority_(source_, -100); // G_PRIORITY_HIGH
        attach_(source_, nullptr);   // the default context, the one Qt's main thread runs
    }
    ~HoldUpBeforeTimers() {
        if (source_) {
            destroy_(source_);
            unref_(source_);
        }
        armedMs_ = 0;
    }
    bool available() const { return source_ != nullptr; }
    // The next look at the sources after a poll waits this long.
    void arm(int ms) { armedMs_ = ms; }

private:
    struct Funcs {
        int (*prepare)(void*, int*);
        int (*check)(void*);
        int (*dispatch)(void*, void*, void*);
        void (*finalize)(void*);
        void* closureCallback;
        void* closureMarshal;
    };
    using NewSource = void* (*)(Funcs*, unsigned);
    using Attach = unsigned (*)(void*, void*);
    using SetPriority = void (*)(void*, int);
    using Release = void (*)(void*);

    static int prepare(void*, int* timeout) {
        *timeout = -1;
        return 0;
    }
    static int check(void*) {
        if (const int ms = std::exchange(armedMs_, 0); ms > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return 0;
    }
    static int dispatch(void*, void*, void*) { return 1; }

    static inline int armedMs_ = 0;
    Funcs funcs_{&prepare, &check, &dispatch, nullptr, nullptr, nullptr};
    NewSource newSource_ = nullptr;
    Attach attach_ = nullptr;
    SetPriority setPriority_ = nullptr;
    Release destroy_ = nullptr;
    Release unref_ = nullptr;
    void* source_ = nullptr;
};

} // namespace tarvo::test
