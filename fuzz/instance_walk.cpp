// The instance walk and the data block builder on arbitrary block contents:
// input = [map length][serialized map][block 0][block 1]... with blocks of a
// small fixed size standing in for views. Nothing may be read outside a view or
// a snapshot, or written outside perflib's buffer.
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "sharedmem/byte_layout.h"
#include "sharedmem/shared_block.h"

namespace {
constexpr std::size_t kBlockSize = 2048;
constexpr std::size_t kMaxBlocks = 4;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    std::size_t mapLength = vz::fuzz::Word(data) % 4096;
    if (mapLength > size - 4) mapLength = size - 4;
    std::vector<std::uint8_t> map(data + 4, data + 4 + mapLength);
    vz::fuzz::BareMonitor monitor;
    if (vz::Failed(monitor.ReadSerializedMap(map.data(), map.size()))) return 0;

    const std::uint8_t* rest = data + 4 + mapLength;
    std::size_t restSize = size - 4 - mapLength;
    std::vector<std::vector<std::uint8_t>> views;
    for (std::size_t i = 0; i < kMaxBlocks && restSize > 0; ++i) {
        std::size_t n = restSize < kBlockSize ? restSize : kBlockSize;
        std::vector<std::uint8_t> view(kBlockSize, 0);
        std::memcpy(view.data(), rest, n);
        views.push_back(std::move(view));
        rest += n;
        restSize -= n;
    }
    if (views.empty()) return 0;
    monitor.mapSize = vz::fuzz::Word(views[0].data());
    monitor.instanceAreaOffset = static_cast<vz::DWORD>(vz::InstanceAreaOffsetFor(monitor.mapSize));
    monitor.allocationGranularity = kBlockSize;
    for (auto& view : views) {
        auto* block = vz::CSharedBlock::Create();
        if (block == nullptr) break;
        block->View = view.data();
        block->ViewSize = kBlockSize;
        if (!monitor.blocks.Add(block)) {
            block->View = nullptr;
            vz::CSharedBlock::Destroy(block);
            break;
        }
    }

    std::vector<vz::BYTE> output(16384);
    for (auto& category : monitor.categories) {
        vz::BYTE* cursor = output.data();
        vz::DWORD used = 0;
        try {
            static_cast<void>(monitor.RenderCategory(&category, &cursor,
                                                     static_cast<vz::DWORD>(output.size()), &used));
        } catch (const ATL::CAtlException&) {
        }
        if (used > output.size()) __builtin_trap();
    }
    // The views belong to this function, not to the blocks.
    for (auto* block : monitor.blocks) block->View = nullptr;
    monitor.ReleaseBlocks();
    return 0;
}
