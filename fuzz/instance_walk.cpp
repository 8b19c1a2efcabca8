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
    vz::fuzz::Input input(data, size);
    const std::size_t mapLength = input.Word() % 4096;
    std::vector<std::uint8_t> map = input.Bytes(mapLength);
    vz::fuzz::BareMonitor monitor;
    if (vz::Failed(monitor.ReadSerializedMap(map.data(), map.size()))) return 0;

    std::vector<std::vector<std::uint8_t>> views;
    while (views.size() < kMaxBlocks && input.Left() > 0) {
        views.push_back(input.Bytes(kBlockSize));
        views.back().resize(kBlockSize, 0);
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
