// Opening the provider's chain of blocks by name and following it.
#include <gtest/gtest.h>

#include "common/shm_fixture.h"
#include "objectmap/perfmon.h"
#include "platform/emulated/emulated_control.h"
#include "sharedmem/shared_block.h"
#include "support/atl_exception.h"

namespace vz {
namespace {

class ChainMonitor : public ATL::CPerfMon {
public:
    const WCHAR* ApplicationName() const override { return u"Chain Test ITA"; }
};

using test::ProviderChain;
const std::u16string kApplication = u"Chain Test ITA";

class BlockChainTest : public ::testing::Test {
protected:
    void TearDown() override {
        monitor_.CloseObject();
        EXPECT_EQ(emu::OpenMappingCount(), 0u);
    }
    ChainMonitor monitor_;
    test::Bytes map_ = test::ServerStatisticsMap(10).Build(false);
};

TEST_F(BlockChainTest, NoProviderLeavesTheChainClosed) {
    EXPECT_EQ(monitor_.OpenBlocks(), S_OK);
    EXPECT_TRUE(monitor_.blocks.IsEmpty());
    EXPECT_EQ(monitor_.NextBlock(nullptr), nullptr);
    EXPECT_TRUE(monitor_.categories.IsEmpty());
}

TEST_F(BlockChainTest, OpensBlocksByNumberWithThreeDigitsAndStopsAtAGap) {
    ProviderChain chain(kApplication, map_);
    for (uint32_t n : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 9u}) chain.CreateBlock(n);
    ASSERT_EQ(monitor_.OpenBlocks(), S_OK);
    ASSERT_EQ(monitor_.blocks.GetCount(), 8u);  // block _007 opened, _009 behind the gap
    EXPECT_EQ(monitor_.mapSize, 620u);
    EXPECT_EQ(monitor_.instanceAreaOffset, 624u);
    EXPECT_EQ(monitor_.allocationGranularity, 65536u);
    EXPECT_EQ(monitor_.categories.GetCount(), 1u);
    CSharedBlock* block = monitor_.NextBlock(nullptr);
    for (std::size_t k = 0; k < 8; ++k, block = monitor_.NextBlock(block)) {
        ASSERT_EQ(block, monitor_.blocks[k]);
        EXPECT_EQ(block->ViewSize, 65536u);
        EXPECT_EQ(block->Access, plat::FILE_MAP_READ);
    }
    EXPECT_EQ(block, nullptr);

    chain.CreateBlock(8);
    ASSERT_EQ(monitor_.OpenBlocks(), S_OK);
    EXPECT_EQ(monitor_.blocks.GetCount(), 10u);
}

TEST_F(BlockChainTest, BlockSmallerThanTheGranularityIsMissing) {
    ProviderChain chain(kApplication, map_);
    chain.CreateBlock(0);
    chain.CreateBlock(1, 4096);
    ASSERT_EQ(monitor_.OpenBlocks(), S_OK);
    EXPECT_EQ(monitor_.blocks.GetCount(), 1u);
}

// A block number that does not name the block's own position would send the
// walk back to an earlier block: it is refused instead of followed.
TEST_F(BlockChainTest, WrongBlockNumbersAreRefused) {
    ProviderChain chain(kApplication, map_);
    chain.CreateBlock(0);
    chain.CreateBlock(1);
    ASSERT_EQ(monitor_.OpenBlocks(), S_OK);
    ASSERT_EQ(monitor_.blocks.GetCount(), 2u);
    chain.PutWord(1, BlockNumberOffset(monitor_.mapSize), 0);
    EXPECT_THROW(monitor_.NextBlock(monitor_.blocks[1]), ATL::CAtlException);
    chain.PutWord(1, BlockNumberOffset(monitor_.mapSize), 5);
    EXPECT_THROW(monitor_.NextBlock(monitor_.blocks[1]), ATL::CAtlException);
    chain.CreateBlock(2);
    chain.PutWord(1, BlockNumberOffset(monitor_.mapSize), 0xFFFFFFFFu);
    EXPECT_EQ(monitor_.OpenBlocks(), S_OK);
    EXPECT_EQ(monitor_.blocks.GetCount(), 2u);
}

TEST_F(BlockChainTest, MapThatCannotBeReadReleasesBlockZero) {
    test::Bytes broken = map_;
    test::Put<DWORD>(broken, MapEntryOffset(0) + map_entry::kKind, counter_entry::kKindValue);  // a counter entry first
    ProviderChain chain(kApplication, broken);
    chain.CreateBlock(0);
    chain.CreateBlock(1);
    EXPECT_EQ(monitor_.OpenBlocks(), E_OUTOFMEMORY);
    EXPECT_TRUE(monitor_.blocks.IsEmpty());
    EXPECT_TRUE(monitor_.categories.IsEmpty());
}

TEST_F(BlockChainTest, MapSizeWhoseBlockNumberLiesOutsideTheViewIsNoProvider) {
    test::Bytes map = map_;
    test::Put<DWORD>(map, kMapSizeOffset, 65533);
    ProviderChain chain(kApplication, map);
    chain.CreateBlock(0);
    EXPECT_EQ(monitor_.OpenBlocks(), S_OK);
    EXPECT_TRUE(monitor_.blocks.IsEmpty());
}

}  // namespace
}  // namespace vz
