// A provider may truncate its shared-memory object while readers hold views
// of it. On Linux the pages past the new end then raise SIGBUS; a reader's
// view must instead read as zeros, so the block yields nothing and the reader
// lives on. Faults outside the reader's views keep their default fate.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "collect/perf_exports.h"
#include "common/shm_fixture.h"
#include "platform/emulated/emulated_control.h"
#include "platform/shared_memory_writer.h"

namespace vz {
namespace {

// Resizes the POSIX object behind the named mapping, as a provider could.
void ResizeObject(const std::u16string& name, off_t size) {
    const int fd = shm_open(emu::SharedMemoryObjectName(name).c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
}

TEST(ShrinkingBlock, ViewReadsZerosPastTheNewEnd) {
    const std::u16string name = u"Global\\shrinking";
    constexpr DWORD kSize = 3 * 65536;
    plat::HANDLE writer = nullptr;
    auto* bytes = static_cast<uint8_t*>(plat::CreateWritableSharedMemory(name.c_str(), kSize, &writer));
    ASSERT_NE(bytes, nullptr);
    std::memset(bytes, 0x5A, kSize);

    plat::HANDLE mapping = plat::OpenFileMappingW(plat::FILE_MAP_READ, 0, name.c_str());
    ASSERT_NE(mapping, nullptr);
    auto* view = static_cast<const volatile uint8_t*>(
        plat::MapViewOfFileEx(mapping, plat::FILE_MAP_READ, 0, 0, kSize, nullptr));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view[kSize - 1], 0x5A);

    ResizeObject(name, 65536 + 100);
    EXPECT_EQ(view[0], 0x5A);
    EXPECT_EQ(view[65536 + 99], 0x5A);    // inside the object still
    EXPECT_EQ(view[2 * 65536 + 7], 0);    // past it: zeros, not SIGBUS
    EXPECT_EQ(view[65536 + 4096], 0);     // the whole rest of the view
    EXPECT_EQ(view[kSize - 1], 0);
    EXPECT_EQ(emu::BrokenViewCount(), 1u);

    EXPECT_TRUE(plat::UnmapViewOfFile(const_cast<const uint8_t*>(view)));
    EXPECT_TRUE(plat::CloseHandle(mapping));
    EXPECT_EQ(emu::BrokenViewCount(), 0u);
    EXPECT_EQ(emu::OpenMappingCount(), 0u);
    plat::CloseWritableSharedMemory(writer, bytes);
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
    test::ProviderChain chain(u"Quorvane Server ITA", test::ServerStatisticsMap(238).Build(false));
    chain.CreateBlock(0);
    std::vector<uint8_t> buffer(1 << 16);
    void* data = buffer.data();
    DWORD total = static_cast<DWORD>(buffer.size()), objects = 0;
    CollectPerfMon(u"Global", &data, &total, &objects);

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

// Through the exports: the provider shrinks block 1 under the collector.
TEST(ShrinkingBlock, CollectorSurvivesAndDropsTheBlock) {
    ClosePerfMon();
    emu::ResetRegistry();
    {
        test::ProviderChain chain(u"Quorvane Server ITA", test::ServerStatisticsMap(238).Build(false));
        chain.CreateBlock(0);
        chain.CreateBlock(1);
        test::InstanceRecordLayout record;
        record.name = u"first";
        record.values.assign(16, 7);
        chain.AddRecord(0, record);
        chain.EndBlock(0);
        record.instanceId = 2;
        record.name = u"second";
        chain.AddRecord(1, record);

        auto sample = [](DWORD* total, DWORD* instances) {
            std::vector<uint8_t> buffer(1 << 16);
            void* data = buffer.data();
            *total = static_cast<DWORD>(buffer.size());
            DWORD objects = 0;
            EXPECT_EQ(CollectPerfMon(u"Global", &data, total, &objects), 0u);
            *instances = *total >= sizeof(PERF_OBJECT_TYPE) ? test::Get<PERF_OBJECT_TYPE>(buffer.data()).NumInstances : 0;
        };
        DWORD total = 0, instances = 0;
        sample(&total, &instances);
        EXPECT_EQ(instances, 2u);

        ResizeObject(test::BlockName(u"Quorvane Server ITA", 1), 0);
        sample(&total, &instances);  // no SIGBUS
        EXPECT_EQ(instances, 1u);    // block 1 reads as an empty instance area
        EXPECT_EQ(emu::BrokenViewCount(), 1u);

        ClosePerfMon();
        EXPECT_EQ(emu::BrokenViewCount(), 0u);
        sample(&total, &instances);  // block 1 is now too small to map
        EXPECT_EQ(instances, 1u);
    }
    ClosePerfMon();
    EXPECT_EQ(emu::OpenMappingCount(), 0u);
}

}  // namespace
}  // namespace vz
