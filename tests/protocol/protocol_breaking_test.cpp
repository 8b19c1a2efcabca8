// A provider process publishes the server's object, then as fast as it can
// rewrites RecordSize fields, end marks and bytes of block 0's map at random,
// restores them, and shrinks and regrows whole blocks, while the collector
// samples through the exports (keeping its blocks, then closing them before
// each sample). Every sample must keep perflib's contract and pass qvperf's
// strict decoder; the sanitizers catch any read or write out of bounds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "collect/perf_exports.h"
#include "common/emulated_machine.h"
#include "common/shm_fixture.h"
#include "platform/emulated/emulated_control.h"
#include "reader/perf_decoder.h"
#include "server_statistics.h"
#include "support/hresult.h"
#include "vudozid_provider.hpp"

namespace vz {
namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kBlockSize = 8192;  // two pages: a chain of several blocks
constexpr int kInstances = 100;

// One block as the rule breaker sees it: a writable view and the publisher's bytes.
struct Block {
    std::u16string name;
    BYTE* view = nullptr;
    std::vector<BYTE> pristine;
    bool shrunk = false;
};

void Resize(const std::u16string& name, off_t size) {
    const int fd = shm_open(emu::SharedMemoryObjectName(name).c_str(), O_RDWR, 0);
    if (fd < 0) return;
    if (ftruncate(fd, size) != 0) std::perror("ftruncate");
    close(fd);
}

void PutWord(BYTE* at, DWORD value) { __atomic_store_n(reinterpret_cast<DWORD*>(at), value, __ATOMIC_RELAXED); }

// The provider process: publishes, says so on `report`, then breaks the rules
// for `seconds`. Writes the number of rewrites to `report` and exits 0.
[[noreturn]] void BreakTheRules(double seconds, int report, unsigned seed) try {
    vudozid::Publisher publisher(qvsim::kApplication, qvsim::ServerStatisticsObject());
    std::vector<vzp_instance> handles;
    for (int i = 0; i < kInstances; ++i) {
        handles.push_back(publisher.AddInstance("Quorvane" + std::to_string(i)));
        publisher.SetAll(handles.back(), std::vector<std::uint64_t>(qvsim::kCounterCount, 1000 + i));
    }
    // Some free records too: records of removed instances stay in the chain.
    for (int index : {3, 17, 30, 71}) publisher.RemoveInstance(handles[index]);

    // Every block of the chain, by name, as a reader finds them.
    std::vector<Block> blocks;
    for (DWORD k = 0;; ++k) {
        const std::u16string name = test::BlockName(u"Quorvane Server ITA", k);
        const DWORD access = plat::FILE_MAP_READ | plat::FILE_MAP_WRITE;
        plat::HANDLE mapping = plat::OpenFileMappingW(access, 0, name.c_str());
        if (mapping == nullptr) break;
        auto* bytes = static_cast<BYTE*>(plat::MapViewOfFileEx(mapping, access, 0, 0, kBlockSize, nullptr));
        if (bytes == nullptr) _exit(22);
        blocks.push_back({name, bytes, std::vector<BYTE>(bytes, bytes + kBlockSize)});
    }
    if (blocks.size() < 2) _exit(21);
    const DWORD mapSize = test::Get<DWORD>(blocks[0].pristine.data(), kMapSizeOffset);
    const std::size_t instanceArea = InstanceAreaOffsetFor(mapSize);
    // Where records start, from the records' own sizes.
    std::vector<std::pair<std::size_t, std::size_t>> recordStarts;  // (block, offset)
    for (std::size_t k = 0; k < blocks.size(); ++k) {
        std::size_t at = instanceArea;
        while (at + 4 <= kBlockSize) {
            const DWORD size = test::Get<DWORD>(blocks[k].pristine.data(), at);
            recordStarts.push_back({k, at});  // the record, or the mark that ends the block
            if (size == kEndOfInstances || size == kEndOfBlock || size > kBlockSize - at) break;
            at += size;
        }
    }

    const char ready = 1;
    if (write(report, &ready, 1) != 1) _exit(24);
    const auto until = Clock::now() + std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    std::mt19937 random(seed);
    const DWORD hostileSizes[] = {0, 1, 4, 19, 20, 21, 0xFFFFFFFFu, 0xFFFFFFFEu, 0x7FFFFFFFu,
                                  kBlockSize, 212, 424, 106};
    unsigned long rewrites = 0;
    while (Clock::now() < until) {
        for (int burst = 0; burst < 256; ++burst, ++rewrites) {
            const unsigned action = random() % 16;
            if (action < 6) {  // a RecordSize or end mark
                const auto& [k, at] = recordStarts[random() % recordStarts.size()];
                if (blocks[k].shrunk) continue;
                const DWORD value = random() % 2 ? hostileSizes[random() % 13]
                                                 : static_cast<DWORD>(random());
                PutWord(blocks[k].view + at, value);
            } else if (action < 9) {  // a byte of block 0's map (read at the next rebuild)
                if (blocks[0].shrunk) continue;
                blocks[0].view[random() % mapSize] = static_cast<BYTE>(random());
            } else if (action < 10) {  // a block number
                Block& block = blocks[random() % blocks.size()];
                if (!block.shrunk) PutWord(block.view + mapSize, random() % 6);
            } else if (action < 15) {  // back to what the publisher wrote
                Block& block = blocks[random() % blocks.size()];
                if (!block.shrunk) std::memcpy(block.view, block.pristine.data(), kBlockSize);
            } else if (random() % 64 == 0) {  // the object shrinks under the readers, or grows back
                Block& block = blocks[1 + random() % (blocks.size() - 1)];
                // Only whole pages past the end fault: to nothing, or to one page.
                Resize(block.name, block.shrunk ? kBlockSize : (random() % 2) * 4096);
                block.shrunk = !block.shrunk;
                if (!block.shrunk) std::memcpy(block.view, block.pristine.data(), kBlockSize);
            }
        }
    }
    if (write(report, &rewrites, sizeof rewrites) != sizeof rewrites) _exit(23);
    _exit(0);
} catch (const vudozid::ProviderError& error) {
    std::fprintf(stderr, "protocol provider: %s\n", error.what());
    _exit(20);
}

struct Tally {
    unsigned long samples = 0, withData = 0, moreData = 0, instances = 0, shrunkViews = 0;
    std::vector<std::string> problems;
};

void Sample(bool closeFirst, std::mt19937& random, Tally* tally) {
    if (closeFirst) {
        tally->shrunkViews += emu::BrokenViewCount();
        ClosePerfMon();
    }
    const std::size_t capacity = random() % 8 == 0 ? random() % 8192 : 1 << 16;
    std::vector<unsigned char> buffer;
    const qvperf::CollectCall call = qvperf::CallCollect(CollectPerfMon, u"Global", capacity, 0, &buffer);
    ++tally->samples;
    if (call.result == static_cast<std::uint32_t>(ERROR_MORE_DATA)) ++tally->moreData;
    if (call.totalBytes != 0) {
        ++tally->withData;
        const LONG instances = test::Get<PERF_OBJECT_TYPE>(buffer.data()).NumInstances;
        if (instances > 0) tally->instances += static_cast<unsigned long>(instances);
    }
    for (const std::string& problem : qvperf::CheckCollectCall(call))
        if (tally->problems.size() < 10) tally->problems.push_back(problem);
}

TEST(ProtocolBreakingProvider, EverySampleKeepsTheContract) {
    test::ResetMachine(kBlockSize);
    const char* secondsText = std::getenv("VUDOZID_PROTOCOL_SECONDS");  // default 2
    const double seconds = secondsText != nullptr && std::atof(secondsText) > 0 ? std::atof(secondsText) : 2;
    const unsigned seed = static_cast<unsigned>(getpid());

    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        BreakTheRules(seconds, pipeFds[1], seed);
    }
    close(pipeFds[1]);
    char ready = 0;
    ASSERT_EQ(read(pipeFds[0], &ready, 1), 1) << "the provider did not publish";
    const auto start = Clock::now();
    const auto half = start + std::chrono::milliseconds(static_cast<long>(seconds * 500));
    const auto end = start + std::chrono::milliseconds(static_cast<long>(seconds * 1000));

    std::mt19937 random(seed + 1);
    Tally kept, closed;
    while (Clock::now() < half) Sample(false, random, &kept);
    kept.shrunkViews = emu::BrokenViewCount();
    while (Clock::now() < end) Sample(true, random, &closed);
    ClosePerfMon();

    unsigned long rewrites = 0;
    EXPECT_EQ(read(pipeFds[0], &rewrites, sizeof rewrites), static_cast<ssize_t>(sizeof rewrites));
    close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "provider status " << status;

    for (const Tally* t : {&kept, &closed}) {
        std::printf("protocol: %s: %lu samples, %lu with data (%lu instances), %lu ERROR_MORE_DATA, "
                    "%lu views of shrunk blocks, %zu malformed\n",
                    t == &kept ? "blocks kept" : "closed before each sample", t->samples,
                    t->withData, t->instances, t->moreData, t->shrunkViews, t->problems.size());
        for (const std::string& problem : t->problems) ADD_FAILURE() << problem;
        EXPECT_GT(t->withData, 0u);
    }
    std::printf("protocol: %lu provider rewrites in %.0f s (seed %u)\n", rewrites, seconds, seed);
    EXPECT_GT(rewrites, 0u);
    EXPECT_EQ(test::OpenReaderMappings(), 0u);
}

}  // namespace
}  // namespace vz
