// The whole sample path, as perflib drives it: up to four provider blocks in
// real shared memory (block 0 holding the serialized map and the records in
// one view), opened by the library through the platform's mapping calls, then
// a sequence of CollectPerfMon / ClosePerfMon calls and provider writes between
// them. Every Collect must keep perflib's contract and return well-formed
// objects (checked by qvperf's strict decoder); nothing may leak.
//
// Input: flags, granularity, capacity, query, operations, then block images.
//   byte  flags: bits 0-1 block count - 1; bit 2 stamp block numbers at the map
//         size; bit 3 block 2 missing; bit 4 last block shorter than a view;
//         bit 5 the registered "Map" value holds block 0's map
//   byte  granularity 1024 << (n % 3)
//   word  buffer capacity (% 65536)
//   byte  query: "Global", "gLOBAL", "", "Costly", numbers, or UTF-16 text
//   byte  operation count (% 8 + 1), then per operation one byte:
//         0 Collect, 1 Close, 2 Collect into a buffer one byte short of the
//         last result, 3 poke a word (block, offset, value) into a block
//   rest  block images, one granularity unit each (zero-filled when short)
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "common/emulated_machine.h"
#include "platform/shared_memory_writer.h"
#include "sharedmem/byte_layout.h"

namespace {

using vz::DWORD;

constexpr std::size_t kMaxBlocks = 4;

std::u16string Query(vz::fuzz::Input& in) {
    static const char16_t* const kFixed[] = {u"Global", u"gLOBAL", u"", u"Costly"};
    const int kind = in.Byte() % 6;
    if (kind < 4) return kFixed[kind];
    std::u16string text;
    if (kind == 4) {  // blank-separated numbers, with stray blanks
        for (int n = in.Byte() % 4; n >= 0; --n) {
            for (char c : std::to_string(in.Word() % 4000)) text.push_back(static_cast<char16_t>(c));
            text.append(in.Byte() % 3 == 0 ? u"  " : u" ");
        }
        return text;
    }
    for (int n = in.Byte() % 16; n > 0; --n) {  // UTF-16 text
        const char16_t unit = static_cast<char16_t>(in.Byte() | (in.Byte() << 8));
        if (unit != 0) text.push_back(unit);
    }
    return text;
}

struct ProviderBlock {
    vz::plat::HANDLE mapping = nullptr;
    std::uint8_t* view = nullptr;
    DWORD size = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vz::fuzz::UseOwnSharedMemoryNamespace();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vz::fuzz::Input in(data, size);
    const std::uint8_t flags = in.Byte();
    const DWORD granularity = 1024u << (in.Byte() % 3);
    const DWORD capacity = in.Word() % 65536;
    const std::u16string query = Query(in);
    std::vector<std::uint8_t> operations = in.Bytes(in.Byte() % 8 + 1);

    vz::test::ResetMachine(granularity);
    ClosePerfMon();

    const std::size_t blockCount = (flags & 3) + 1;
    ProviderBlock blocks[kMaxBlocks];
    DWORD mapSize = 0;
    for (std::size_t k = 0; k < blockCount; ++k) {
        const std::vector<std::uint8_t> image = in.Bytes(granularity);
        if (k == 0 && image.size() >= 4) mapSize = vz::fuzz::Word(image.data());
        if (k == 2 && (flags & 8)) continue;
        ProviderBlock& block = blocks[k];
        block.size = (flags & 16) && k + 1 == blockCount ? granularity / 2 : granularity;
        vz::WCHAR name[64];
        vz::FormatBlockName(vz::fuzz::kApplication, static_cast<DWORD>(k), name, 64);
        void* view = vz::plat::CreateWritableSharedMemory(name, block.size, &block.mapping);
        if (view == nullptr) continue;
        block.view = static_cast<std::uint8_t*>(view);
        std::memset(block.view, 0, block.size);
        if (!image.empty())
            std::memcpy(block.view, image.data(), image.size() < block.size ? image.size() : block.size);
        if ((flags & 4) && static_cast<std::uint64_t>(mapSize) + 4 <= block.size) {
            const DWORD number = static_cast<DWORD>(k);
            std::memcpy(block.view + mapSize, &number, 4);
        }
    }
    if ((flags & 32) && blocks[0].view != nullptr)
        vz::fuzz::SetValue(vz::PerformanceKeyPath(vz::fuzz::kApplication).c_str(), u"Map",
                           vz::plat::REG_BINARY, blocks[0].view,
                           mapSize < blocks[0].size ? mapSize : blocks[0].size);

    DWORD lastBytes = 0;
    for (std::uint8_t operation : operations) {
        switch (operation % 4) {
            case 0:
                lastBytes = vz::fuzz::CheckedCollect(query.c_str(), capacity, operation >> 4).totalBytes;
                break;
            case 1:
                ClosePerfMon();
                break;
            case 2:
                vz::fuzz::CheckedCollect(query.c_str(), lastBytes != 0 ? lastBytes - 1 : 0);
                break;
            default: {
                ProviderBlock& block = blocks[(operation >> 2) % kMaxBlocks];
                const DWORD offset = in.Word();
                const DWORD value = in.Word();
                if (block.view != nullptr && block.size >= 4)
                    std::memcpy(block.view + offset % (block.size - 3), &value, 4);
                break;
            }
        }
    }

    ClosePerfMon();
    if (vz::test::OpenReaderMappings() != 0) __builtin_trap();  // a view or handle leaked
    for (ProviderBlock& block : blocks)
        if (block.view != nullptr) vz::plat::CloseWritableSharedMemory(block.mapping, block.view);
    return 0;
}
