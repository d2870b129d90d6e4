// The libFuzzer side of one target: its entry is named by TARVO_FUZZ_ENTRY_FUNCTION at build time.
#include <cstddef>
#include <cstdint>

extern "C" int TARVO_FUZZ_ENTRY_FUNCTION(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return TARVO_FUZZ_ENTRY_FUNCTION(data, size);
}
