// A provider may truncate its shared-memory object while readers hold views
// of it. On Linux the pages past the new end then raise SIGBUS; a reader's
// view must instead read as zeros, so the block yields nothing and the reader
// lives on. Faults outside the reader's views keep their default fate.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "collect/perf_exports.h"
#include "common/shm_fixture.h"
#include "platform/emulated/emulated_control.h"

namespace vz {
namespace {

// Resizes the POSIX object behind the named mapping, as a provider could.
void ResizeObject(const std::u16string& name, off_t size) {
    const int fd = shm_open(emu::SharedMemoryObjectName(name).c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
}

const std::u16string kApplication = u"Quorvane Server ITA";

// The instances of one sample through the exports.
LONG SampledInstances() {
    std::vector<uint8_t> buffer(1 << 16);
    void* data = buffer.data();
    DWORD total = static_cast<DWORD>(buffer.size()), objects = 0;
    EXPECT_EQ(CollectPerfMon(u"Global", &data, &total, &objects), 0u);
    return total >= sizeof(PERF_OBJECT_TYPE) ? test::Get<PERF_OBJECT_TYPE>(buffer.data()).NumInstances : 0;
}

// A mapping the platform did not make is not its business: the fault goes to
// the handler installed before (the default one, which ends the process by
// SIGBUS, or a sanitizer's, which reports it and exits with 1).
bool DiedOfTheFault(int status) {
    return (WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS) ||
           (WIFEXITED(status) && WEXITSTATUS(status) == 1);
}

// Maps one reader view through the library (which installs the platform's
// handler), then reads past the end of a file mapping of its own.
void ReadPastATruncatedFileOfItsOwn() {
    test::ProviderChain chain(kApplication, test::ServerStatisticsMap(238).Build(false));
    chain.CreateBlock(0);
    SampledInstances();

    const int fd = memfd_create("vudozid-sigbus", 0);
    if (fd < 0 || ftruncate(fd, 8192) != 0) _exit(10);
    auto* own = static_cast<volatile char*>(mmap(nullptr, 8192, PROT_READ, MAP_SHARED, fd, 0));
    if (own == MAP_FAILED || ftruncate(fd, 0) != 0) _exit(10);
    _exit(own[4096] == 0 ? 2 : 3);
}

TEST(ShrinkingBlockDeathTest, FaultsElsewhereKeepTheirDefaultAction) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(ReadPastATruncatedFileOfItsOwn(), DiedOfTheFault, "");
}

// Through the exports: the provider shrinks block 1 under the collector. What
// is still inside the object reads as written, the rest as zeros, not SIGBUS.
TEST(ShrinkingBlock, CollectorSurvivesAndDropsTheBlock) {
    ClosePerfMon();
    emu::ResetRegistry();
    {
        test::ProviderChain chain(kApplication, test::ServerStatisticsMap(238).Build(false));
        test::InstanceRecordLayout record;
        record.values.assign(16, 7);
        chain.CreateBlock(0);
        chain.AddRecord(0, record);
        chain.EndBlock(0);
        chain.CreateBlock(1);
        while (chain.AddRecord(1, record) < 4096) ++record.instanceId;  // 17 start in the first page
        EXPECT_EQ(SampledInstances(), 19);

        ResizeObject(test::BlockName(kApplication, 1), 4096);
        for (int sample = 0; sample < 2; ++sample) EXPECT_EQ(SampledInstances(), 18) << sample;
        EXPECT_EQ(emu::BrokenViewCount(), 1u);
        ResizeObject(test::BlockName(kApplication, 1), 0);
        EXPECT_EQ(SampledInstances(), 1);  // block 1 reads as an empty instance area

        ClosePerfMon();
        EXPECT_EQ(emu::BrokenViewCount(), 0u);
        EXPECT_EQ(SampledInstances(), 1);  // block 1 is now too small to map
    }
    ClosePerfMon();
    EXPECT_EQ(emu::OpenMappingCount(), 0u);
}

}  // namespace
}  // namespace vz
