// The serialized-map reader on arbitrary bytes of arbitrary length: it must
// never read beyond the source and must leave a usable map or an empty one.
#include <cstdint>
#include <vector>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size heap copy lets AddressSanitizer catch a read past the end.
    std::vector<std::uint8_t> source(data, data + size);
    vz::fuzz::BareMonitor monitor;
    const vz::HRESULT hr = monitor.ReadSerializedMap(source.data(), source.size());
    if (vz::Failed(hr) && !monitor.categories.IsEmpty()) __builtin_trap();  // no half map left behind
    return 0;
}
