// Named shared memory as the provider writes it and the library reads it:
// file mapping (views, rights, alignment) and the lifetime of a name. Built
// for Linux against the emulated platform and with mingw-w64 against the real
// Win32 API (run under Wine), with the same expectations where the two agree.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#ifndef _WIN32
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

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

    EXPECT_EQ(MapViewOfFileEx(reader, FILE_MAP_WRITE, 0, 0, kSize, nullptr), nullptr);  // read only
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(MapViewOfFileEx(reader, FILE_MAP_READ, 0, 4096, 4096, nullptr), nullptr);  // unaligned
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MAPPED_ALIGNMENT));
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

#ifndef _WIN32
// A writer in a process of its own, to be killed while it holds its handle.
pid_t StartWriterProcess() {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives a test that stopped early
        Writer writer;
        if (writer.bytes != nullptr) writer.bytes[kSize - 1] = 0x5A;
        (void)!write(ready[1], "r", 1);
        pause();
        _exit(0);
    }
    char byte = 0;
    close(ready[1]);
    (void)!read(ready[0], &byte, 1);
    close(ready[0]);
    return child;
}
#endif

TEST(SharedMemory, TheNameGoesWithTheLastHandle) {
    // A mapping object and its name live until the last handle to it closes,
    // whoever holds it; a process that ends closes its handles. Steps: W a
    // writer opens a new, zero-filled object; K one opens the one still there;
    // w it closes; A, B readers open; a, b they close; X a writer opens in
    // another process; x that process is killed. After each: + the name leads
    // to the writer's bytes, - it is gone (ERROR_FILE_NOT_FOUND), . not looked at.
    const char* const rows[] = {
        "W+w-",
        "W+A+w+a-",
        "W+A+B+w+a+b-",
        "W+A+B+w+b+a-",
        "W+A+w+K+a+w-W+w-",
        "X+A+x+a-",
        "X+x-X+x.W+w-",
    };
    for (const char* row : rows) {
#ifdef _WIN32
        if (std::strchr(row, 'X') != nullptr) continue;  // no fork: the kernel's own guarantee
#else
        pid_t child = -1;
#endif
        std::unique_ptr<Writer> writer;
        HANDLE readers[2] = {};
        for (const char* step = row; *step != '\0'; step += 2) {
            SCOPED_TRACE(std::string(row, step + 1));
            switch (*step) {
                case 'W':
                case 'K':
                    writer.reset(new Writer);
                    ASSERT_NE(writer->bytes, nullptr);
                    EXPECT_EQ(writer->bytes[kSize - 1], *step == 'K' ? 0x5A : 0);
                    writer->bytes[kSize - 1] = 0x5A;
                    break;
                case 'w': writer.reset(); break;
                case 'A':
                case 'B':
                    readers[*step - 'A'] = OpenFileMappingW(FILE_MAP_READ, 0, kName);
                    ASSERT_NE(readers[*step - 'A'], nullptr);
                    break;
#ifndef _WIN32
                case 'X': child = StartWriterProcess(); break;
                case 'x':
                    kill(child, SIGKILL);
                    waitpid(child, nullptr, 0);
                    break;
#endif
                default: EXPECT_TRUE(CloseHandle(readers[*step - 'a']));
            }
            if (step[1] == '.') continue;
            HANDLE probe = OpenFileMappingW(FILE_MAP_READ, 0, kName);
            const auto* view = static_cast<const unsigned char*>(
                probe != nullptr ? MapViewOfFileEx(probe, FILE_MAP_READ, 0, 0, kSize, nullptr) : nullptr);
            // The byte the writer left, or the error of the open.
            EXPECT_EQ(view != nullptr ? view[kSize - 1] : probe == nullptr ? GetLastError() : 0,
                      step[1] == '+' ? 0x5Au : static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
            if (view != nullptr) UnmapViewOfFile(view);
            if (probe != nullptr) CloseHandle(probe);
        }
    }
}

}  // namespace
}  // namespace vz
