// Pair-list merge and removal on arbitrary REG_MULTI_SZ bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/layout_builder.h"
#include "registration/pair_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    const vz::DWORD first = vz::test::Get<vz::DWORD>(data) % 4000;
    const vz::DWORD last = first + vz::test::Get<vz::DWORD>(data, 4) % 64;
    std::size_t count = (size - 8) / 2;
    std::vector<vz::WCHAR> list(count);
    if (count) std::memcpy(list.data(), data + 8, count * 2);

    vz::WString texts[3] = {vz::WString(u"Quorvane Server 11"), vz::WString(u"Accessi alla cache %"),
                            vz::WString(u"x")};
    std::size_t textCount = 1 + (last - first) / 2 % 3;
    std::vector<vz::WCHAR> out(count + 256);
    std::size_t written = vz::MergePairList(list.data(), count, texts, textCount, first,
                                            first + 2 * static_cast<vz::DWORD>(textCount) - 2,
                                            out.data(), out.size());
    if (written > out.size()) __builtin_trap();
    std::size_t kept = vz::RemovePairRange(list.data(), count, first, last);
    if (kept > count) __builtin_trap();
    return 0;
}
