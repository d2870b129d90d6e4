#pragma once

// What every fuzz target shares. A target defines its entry with TARVO_FUZZ_ENTRY(name); the fuzzer
// reaches it through LLVMFuzzerTestOneInput (FuzzMain.cpp), and the corpus replay test calls the same
// entry for every stored input, so what the fuzzer learnt is checked by every CI run.
#include <QCoreApplication>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define TARVO_FUZZ_ENTRY(name) extern "C" int tarvoFuzz_##name(const std::uint8_t* data, std::size_t size)

// A property that must hold for any input; when it does not, that is a finding.
#define FUZZ_REQUIRE(condition)                                                                              \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "fuzz: does not hold: %s (%s:%d)\n", #condition, __FILE__, __LINE__);       \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)

namespace tarvo::fuzz {

// Timers, event loops and the simulator need an application object; the replay test has one already.
inline void ensureApplication() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "tarvo-fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

// Reads the input front to back: small choices first, the rest as the payload.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    // A choice among count options.
    int pick(int count) { return count > 0 ? byte() % count : 0; }
    bool flag() { return byte() & 1; }
    QByteArray bytes(std::size_t count) {
        const std::size_t n = count < size_ - at_ ? count : size_ - at_;
        QByteArray out(reinterpret_cast<const char*>(data_ + at_), static_cast<qsizetype>(n));
        at_ += n;
        return out;
    }
    QByteArray rest() { return bytes(size_ - at_); }
    bool empty() const { return at_ >= size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

} // namespace tarvo::fuzz
