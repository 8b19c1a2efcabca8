// A provider that adds, removes and rewrites instances as fast as it can while
// the collector samples. Every value of an instance is derived from its
// InstanceId-bearing name, so a copy torn between two occupants of a record, or
// a record reported while free, shows up as an inconsistent instance.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

#include <atomic>
#include <new>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "collect/perf_exports.h"
#include "objectmap/perf_structures.h"
#include "provider.h"

namespace vz {
namespace {

constexpr int kLive = 400;  // about 85 KB of records: the chain spans two blocks

DWORD Derived(DWORD tag, DWORD counter) { return tag * 2654435761u + counter * 40503u; }

std::u16string NameFor(DWORD tag) {
    std::string text = "I" + std::to_string(tag);
    return std::u16string(text.begin(), text.end());
}

// Runs the provider until `stop`: each live instance is named after a tag and
// carries Derived(tag, i) in counters 1..15; counter 0 changes freely.
void ProviderLoop(const std::atomic<bool>& stop, std::atomic<long>* operations) {
    provider::StatisticsPublisher publisher(provider::kServerApplicationName,
                                            provider::ServerStatisticsDescription());
    if (!publisher.Start()) return;
    std::mt19937 random(7);
    std::vector<std::pair<provider::InstanceHandle, DWORD>> live;
    DWORD nextTag = 1;
    std::vector<ULONGLONG> values(16);
    auto add = [&] {
        DWORD tag = nextTag++;
        provider::InstanceHandle h = publisher.AddInstance(4, NameFor(tag));
        if (h == 0) return;
        for (DWORD i = 1; i < 16; ++i) values[i] = Derived(tag, i);
        values[0] = random();
        publisher.SetCounters(h, values);
        live.emplace_back(h, tag);
    };
    while (!stop.load(std::memory_order_relaxed)) {
        if (live.size() < static_cast<std::size_t>(kLive)) {
            add();
        } else {
            std::size_t k = random() % live.size();
            if (random() % 2) {
                publisher.RemoveInstance(live[k].first);
                live[k] = live.back();
                live.pop_back();
            } else {
                for (DWORD i = 1; i < 16; ++i) values[i] = Derived(live[k].second, i);
                values[0] = random();
                publisher.SetCounters(live[k].first, values);
            }
        }
        if (operations) operations->fetch_add(1, std::memory_order_relaxed);
    }
}

struct SampleCheck {
    long instances = 0;
    long inconsistent = 0;
    long samples = 0;
};

// Decodes one collected object and checks every instance against its name.
void CheckSample(const std::vector<BYTE>& buffer, DWORD bytes, SampleCheck* check) {
    ++check->samples;
    if (bytes == 0) return;
    PERF_OBJECT_TYPE object;
    ASSERT_GE(bytes, sizeof object);
    std::memcpy(&object, buffer.data(), sizeof object);
    ASSERT_EQ(object.TotalByteLength, bytes);
    ASSERT_EQ(object.NumCounters, 16u);
    DWORD at = object.DefinitionLength;
    for (LONG n = 0; n < object.NumInstances; ++n) {
        PERF_INSTANCE_DEFINITION instance;
        ASSERT_LE(at + sizeof instance, bytes);
        std::memcpy(&instance, buffer.data() + at, sizeof instance);
        ASSERT_LE(at + instance.ByteLength + 72, bytes);
        ASSERT_GE(instance.NameLength, 4u);  // at least one character and the NUL
        ASSERT_LE(instance.NameOffset + instance.NameLength, instance.ByteLength);
        std::u16string name(instance.NameLength / 2 - 1, u'\0');
        std::memcpy(&name[0], buffer.data() + at + instance.NameOffset, instance.NameLength - 2);
        ASSERT_EQ(name[0], u'I') << "instance " << n << " of " << object.NumInstances;
        DWORD tag = static_cast<DWORD>(std::stoul(std::string(name.begin() + 1, name.end())));
        const BYTE* counters = buffer.data() + at + instance.ByteLength;
        // The provider sets a new instance's values one by one after adding
        // it, so a sample may catch some still 0; any other value must be the
        // one derived from the name.
        bool ok = true;
        for (DWORD i = 1; i < 16; ++i) {
            DWORD value;
            std::memcpy(&value, counters + 8 + 4 * i, 4);
            ok = ok && (value == Derived(tag, i) || value == 0);
        }
        if (!ok) ++check->inconsistent;
        ++check->instances;
        at += instance.ByteLength + 72;
    }
}

void Sample(int count, SampleCheck* check) {
    std::vector<BYTE> buffer(1 << 20);
    for (int s = 0; s < count; ++s) {
        void* data = buffer.data();
        DWORD bytes = static_cast<DWORD>(buffer.size());
        DWORD objects = 0;
        ASSERT_EQ(CollectPerfMon(u"Global", &data, &bytes, &objects), 0u);
        CheckSample(buffer, bytes, check);
        if (s % 50 == 49) ClosePerfMon();  // also rebuild from block 0 under load
    }
    ClosePerfMon();
}

TEST(Stress, ProviderThreadRacingTheCollector) {
    std::atomic<bool> stop{false};
    std::atomic<long> operations{0};
    std::thread writer(ProviderLoop, std::cref(stop), &operations);
    while (operations.load() < kLive) std::this_thread::yield();
    SampleCheck check;
    Sample(400, &check);
    stop = true;
    writer.join();
    EXPECT_EQ(check.inconsistent, 0);
    EXPECT_GT(check.instances, 0);
    std::printf("thread: %ld samples, %ld instances checked, %ld provider operations\n",
                check.samples, check.instances, operations.load());
}

TEST(Stress, ProviderProcessRacingTheCollector) {
    // The stop flag lives in memory both processes share, so the provider
    // stops by itself and removes its blocks.
    void* shared = mmap(nullptr, sizeof(std::atomic<bool>), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    auto* stop = new (shared) std::atomic<bool>(false);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a test that died
        ProviderLoop(*stop, nullptr);
        _exit(0);
    }
    // Stops the provider however the sampling below ends.
    struct StopProvider {
        std::atomic<bool>* stop;
        pid_t child;
        ~StopProvider() {
            stop->store(true);
            waitpid(child, nullptr, 0);
            munmap(stop, sizeof(std::atomic<bool>));
        }
    } stopProvider{stop, child};
    SampleCheck check;
    for (int wait = 0; wait < 200 && check.instances == 0; ++wait) {
        usleep(10000);
        Sample(1, &check);
    }
    Sample(400, &check);
    EXPECT_EQ(check.inconsistent, 0);
    EXPECT_GT(check.instances, 0);
    std::printf("process: %ld samples, %ld instances checked\n", check.samples, check.instances);
}

}  // namespace
}  // namespace vz
