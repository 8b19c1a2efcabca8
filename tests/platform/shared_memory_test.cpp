// Named shared memory as the provider writes it and the library reads it:
// file mapping (views, rights, alignment) and the lifetime of a name. Built
// for Linux against the emulated platform and with mingw-w64 against the real
// Win32 API (run under Wine), with the same expectations where the two agree.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/shared_memory_writer.h"
#include "support/hresult.h"

namespace vz {
namespace {

using namespace plat;

constexpr DWORD kSize = 3 * 65536;
const char16_t kName[] = u"Local\\VudoZid platform test block";

struct Writer {
    Writer() { bytes = static_cast<unsigned char*>(CreateWritableSharedMemory(kName, kSize, &mapping)); }
    ~Writer() { Close(); }
    void Close() {
        CloseWritableSharedMemory(mapping, bytes);
        mapping = nullptr;
        bytes = nullptr;
    }
    HANDLE mapping = nullptr;
    unsigned char* bytes = nullptr;
};

TEST(SharedMemory, ReaderViewsSeeTheWritersBytesWithTheRightsAsked) {
    EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, 0, kName), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    Writer writer;
    ASSERT_NE(writer.bytes, nullptr);
    std::memset(writer.bytes, 0x5A, kSize);
    HANDLE reader = OpenFileMappingW(FILE_MAP_READ, 0, kName);
    ASSERT_NE(reader, nullptr);
    const auto* view = static_cast<const volatile unsigned char*>(
        MapViewOfFileEx(reader, FILE_MAP_READ, 0, 0, kSize, nullptr));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view[kSize - 1], 0x5A);
    writer.bytes[kSize - 1] = 0x17;  // the same memory, not a copy
    EXPECT_EQ(view[kSize - 1], 0x17);

    struct Refusal {
        DWORD access, offset;
        std::size_t size;
        LONG error;
    } refusals[] = {
        {FILE_MAP_WRITE, 0, kSize, ERROR_ACCESS_DENIED},        // a read-only handle
        {FILE_MAP_READ, 4096, 4096, ERROR_MAPPED_ALIGNMENT},    // not on the granularity
    };
    for (const Refusal& r : refusals) {
        SetLastError(0);
        EXPECT_EQ(MapViewOfFileEx(reader, r.access, 0, r.offset, r.size, nullptr), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(r.error)) << r.access << " " << r.offset;
    }
    const auto* second = static_cast<const unsigned char*>(MapViewOfFileEx(reader, FILE_MAP_READ, 0, 65536, 0, nullptr));
    ASSERT_NE(second, nullptr);  // size 0: to the end of the object
    EXPECT_EQ(second[kSize - 65536 - 1], 0x17);  // the object's last byte
    EXPECT_TRUE(UnmapViewOfFile(second));
    EXPECT_FALSE(UnmapViewOfFile(second));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));

    // A view outlives its handle and the writer: the memory stays.
    EXPECT_TRUE(CloseHandle(reader));
    writer.Close();
    EXPECT_EQ(view[0], 0x5A);
    EXPECT_EQ(view[kSize - 1], 0x17);
    EXPECT_TRUE(UnmapViewOfFile(const_cast<const unsigned char*>(view)));
}

TEST(SharedMemory, TheNameGoesWithTheLastHandle) {
    {
        Writer writer;
        ASSERT_NE(writer.bytes, nullptr);
    }
    EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, 0, kName), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    // A reader's handle open when the writer closes. Windows documents that a
    // mapping object lives until its last handle is closed (and its last view
    // unmapped), and its name with it: the reader's handle keeps the name.
    // The emulation removes the name with its writer instead, so a reader on
    // Linux never opens the blocks of a publisher that is gone.
    Writer writer;
    ASSERT_NE(writer.bytes, nullptr);
    HANDLE reader = OpenFileMappingW(FILE_MAP_READ, 0, kName);
    ASSERT_NE(reader, nullptr);
    writer.Close();
    HANDLE again = OpenFileMappingW(FILE_MAP_READ, 0, kName);
#ifdef _WIN32
    EXPECT_NE(again, nullptr);
    if (again != nullptr) CloseHandle(again);
#else
    EXPECT_EQ(again, nullptr);
#endif
    CloseHandle(reader);
    EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, 0, kName), nullptr);
}

}  // namespace
}  // namespace vz
