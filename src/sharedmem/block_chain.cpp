// Finding, opening and releasing the provider's chain of shared-memory blocks.
// Position k of the block array holds block number k; every read of a block
// number stays inside the block's view.
#include "objectmap/perfmon.h"
#include "sharedmem/byte_layout.h"
#include "sharedmem/shared_block.h"
#include "support/allocation.h"
#include "support/atl_exception.h"

namespace vz {
namespace {

// The block number stored at offset (map size) of a block, when it lies in the view.
bool ReadBlockNumber(const CSharedBlock& block, DWORD mapSize, DWORD* number) {
    if (block.View == nullptr) return false;
    return ByteReader(block.Bytes(), block.ViewSize).WordAt(BlockNumberOffset(mapSize), number);
}

}  // namespace
}  // namespace vz

namespace ATL {

vz::HRESULT CPerfMon::OpenBlocks() {
    if (blocks.IsEmpty()) {
        CSharedBlock* first = OpenNextBlock(nullptr);
        if (first == nullptr) return vz::S_OK;
        vz::ByteReader view(first->Bytes(), first->ViewSize);
        vz::DWORD firstWord = 0;
        // A block 0 whose block number lies outside its view is treated as missing.
        if (!view.WordAt(vz::kMapSizeOffset, &firstWord) ||
            !view.Holds(vz::BlockNumberOffset(firstWord), vz::kBlockNumberSize)) {
            ReleaseBlocks();
            return vz::S_OK;
        }
        vz::HRESULT hr = ReadSerializedMap(first->View, first->ViewSize);
        if (vz::Failed(hr)) {
            ReleaseBlocks();
            return hr;
        }
        mapSize = firstWord;
        instanceAreaOffset = static_cast<vz::DWORD>(vz::InstanceAreaOffsetFor(mapSize));
    }
    CSharedBlock* last = blocks[blocks.GetCount() - 1];
    while ((last = OpenNextBlock(last)) != nullptr) {
    }
    return vz::S_OK;
}

CSharedBlock* CPerfMon::OpenNextBlock(CSharedBlock* previous) {
    vz::DWORD number = 0;
    if (previous == nullptr) {
        allocationGranularity = vz::plat::GetAllocationGranularity();
    } else {
        vz::DWORD previousNumber = 0;
        if (!vz::ReadBlockNumber(*previous, mapSize, &previousNumber)) return nullptr;
        // The chain only grows at its end; a number that does not name the
        // previous block's own position would break the position = number rule.
        if (previousNumber >= blocks.GetCount() || blocks.GetData()[previousNumber] != previous)
            return nullptr;
        number = previousNumber + 1;
    }

    // The name and the probe live on the stack: a collection where nothing has
    // changed only fails to open the next block number and allocates nothing.
    vz::WCHAR name[260];
    if (vz::FormatBlockName(ApplicationName(), number, name, sizeof name / sizeof name[0]) == 0)
        return nullptr;
    CSharedBlock probe;
    if (vz::Failed(probe.MapBlock(name, vz::plat::FILE_MAP_READ, 0, 0, allocationGranularity)))
        return nullptr;

    CSharedBlock* block = CSharedBlock::Create();
    if (block == nullptr) return nullptr;
    block->TakeOver(probe);
    try {
        if (blocks.Add(block)) return block;
    } catch (...) {
    }
    CSharedBlock::Destroy(block);
    return nullptr;
}

CSharedBlock* CPerfMon::NextBlock(CSharedBlock* current) {
    vz::DWORD next = 0;
    if (current != nullptr) {
        vz::DWORD number = 0;
        // A number that is unreadable or does not name the current block's own
        // position could send the walk back to an earlier block, so it is refused.
        if (!vz::ReadBlockNumber(*current, mapSize, &number) || number >= blocks.GetCount() ||
            blocks.GetData()[number] != current)
            AtlThrow(vz::E_INVALIDARG);
        next = number + 1;
    }
    if (next == blocks.GetCount()) return nullptr;
    if (next > blocks.GetCount()) AtlThrow(vz::E_INVALIDARG);
    return blocks[next];
}

void CPerfMon::ReleaseBlocks() noexcept {
    for (CSharedBlock* block : blocks) CSharedBlock::Destroy(block);
    blocks.RemoveAll();
}

}  // namespace ATL
