// Opening the provider's chain of blocks by name and following it.
#include <gtest/gtest.h>

#include <functional>

#include "common/shm_fixture.h"
#include "objectmap/perfmon.h"
#include "platform/emulated/emulated_control.h"
#include "sharedmem/shared_block.h"

namespace vz {
namespace {

using test::ProviderChain;

class ChainMonitor : public ATL::CPerfMon {
public:
    const WCHAR* ApplicationName() const override { return u"Chain Test ITA"; }
};

// Blocks open, read only and a granularity long, by number up to the first
// missing one. A block shorter than the granularity is missing; a block number
// that does not name its block's position ends the chain there; a block 0
// whose number lies outside its view is no provider, and one whose map cannot
// be read releases it.
TEST(BlockChain, OpensBlocksByNumberUpToTheFirstFault) {
    const test::Bytes map = test::ServerStatisticsMap(10).Build(false);
    const std::size_t numberAt = BlockNumberOffset(map.size());
    const struct {
        const char* what;
        std::function<void(ProviderChain&)> create;
        HRESULT result;
        std::size_t opened;
    } cases[] = {
        {"no provider", [](ProviderChain&) {}, S_OK, 0},
        {"a gap after block 7", [](ProviderChain& c) {
             for (DWORD n : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 9u}) c.CreateBlock(n);
         }, S_OK, 8},
        {"block 1 smaller than the granularity", [](ProviderChain& c) {
             c.CreateBlock(0);
             c.CreateBlock(1, 4096);
         }, S_OK, 1},
        {"block 1 numbered 0", [numberAt](ProviderChain& c) {
             for (DWORD n : {0u, 1u, 2u}) c.CreateBlock(n);
             c.PutWord(1, numberAt, 0);
         }, S_OK, 2},
        {"block 1 numbered 0xFFFFFFFF", [numberAt](ProviderChain& c) {
             for (DWORD n : {0u, 1u, 2u}) c.CreateBlock(n);
             c.PutWord(1, numberAt, 0xFFFFFFFFu);
         }, S_OK, 2},
        {"a map size whose block number lies outside the view", [](ProviderChain& c) {
             c.CreateBlock(0);
             c.PutWord(0, kMapSizeOffset, 65533);
         }, S_OK, 0},
        {"a counter entry first in the map", [](ProviderChain& c) {
             c.CreateBlock(0);
             c.CreateBlock(1);
             c.PutWord(0, MapEntryOffset(0) + map_entry::kKind, counter_entry::kKindValue);
         }, E_OUTOFMEMORY, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProviderChain chain(u"Chain Test ITA", map);
        c.create(chain);
        ChainMonitor monitor;
        EXPECT_EQ(monitor.OpenBlocks(), c.result);
        ASSERT_EQ(monitor.blocks.GetCount(), c.opened);
        EXPECT_EQ(monitor.categories.GetCount(), c.opened != 0 ? 1u : 0u);
        for (const CSharedBlock* block : monitor.blocks) {
            EXPECT_EQ(block->ViewSize, 65536u);
            EXPECT_EQ(block->Access, plat::FILE_MAP_READ);
        }
        monitor.CloseObject();
        EXPECT_EQ(emu::OpenMappingCount(), 0u);
    }
}

}  // namespace
}  // namespace vz
