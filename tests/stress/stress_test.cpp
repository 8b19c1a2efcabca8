// Providers that add, remove and rewrite instances as fast as they can while
// the collector samples: one writer, eight writer threads sharing one
// publisher, and a writer in another process. Every value of an instance is
// derived from its tag-bearing name, so a copy torn between two occupants of a
// record, or a record reported while free, shows up as an inconsistent instance.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <new>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "collect/perf_exports.h"
#include "objectmap/perf_structures.h"
#include "reader/perf_decoder.h"
#include "server_statistics.h"
#include "vudozid_provider.h"

namespace vz {
namespace {

constexpr int kLive = 400;  // about 85 KB of records: the chain spans two blocks

DWORD Derived(DWORD tag, DWORD counter) { return tag * 2654435761u + counter * 40503u; }

// Opens the server's object; null when it cannot.
vzp_publisher* OpenServerPublisher() {
    const vzp_object object = qvsim::ServerStatisticsObject();
    vzp_publisher* publisher = nullptr;
    return vzp_open(qvsim::kApplication, &object, &publisher) == VZP_OK ? publisher : nullptr;
}

// Runs one writer on `publisher` until `stop`: it keeps `live` instances, each
// named after a tag (first tag `firstTag`, then every `tagStep`) and carrying
// Derived(tag, i) in counters 1..15; counter 0 changes freely. Any failing call
// counts in `failures`.
void WriterLoop(vzp_publisher* publisher, const std::atomic<bool>& stop, int live, DWORD firstTag,
                DWORD tagStep, std::atomic<long>* operations, std::atomic<long>* failures) {
    std::mt19937 random(firstTag);
    std::vector<std::pair<vzp_instance, DWORD>> instances;
    DWORD nextTag = firstTag;
    uint64_t values[16];
    auto fill = [&](DWORD tag) {
        for (DWORD i = 1; i < 16; ++i) values[i] = Derived(tag, i);
        values[0] = random();
    };
    auto check = [&](vzp_status status) {
        if (status != VZP_OK) failures->fetch_add(1, std::memory_order_relaxed);
        return status == VZP_OK;
    };
    while (!stop.load(std::memory_order_relaxed)) {
        if (instances.size() < static_cast<std::size_t>(live)) {
            const DWORD tag = nextTag;
            nextTag += tagStep;
            const std::string name = "I" + std::to_string(tag);
            vzp_instance instance = 0;
            if (check(vzp_add_instance(publisher, name.c_str(), &instance))) {
                fill(tag);
                check(vzp_set_all(publisher, instance, values, 16));
                instances.emplace_back(instance, tag);
            }
        } else {
            const std::size_t k = random() % instances.size();
            if (random() % 2) {
                check(vzp_remove_instance(publisher, instances[k].first));
                instances[k] = instances.back();
                instances.pop_back();
            } else {
                fill(instances[k].second);
                check(vzp_set_all(publisher, instances[k].first, values, 16));
            }
        }
        if (operations) operations->fetch_add(1, std::memory_order_relaxed);
    }
}

void ProviderLoop(const std::atomic<bool>& stop, std::atomic<long>* operations,
                  std::atomic<long>* failures) {
    vzp_publisher* publisher = OpenServerPublisher();
    if (publisher == nullptr) return;
    WriterLoop(publisher, stop, kLive, 1, 1, operations, failures);
    vzp_close(publisher);
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

// Once the writers have made kLive operations (5 s at most), samples `count`
// times while they go on, stops them and checks that every sample was whole.
template <typename StopWriters>
void SampleWhileWriting(const char* label, int count, const std::atomic<long>& operations,
                        const std::atomic<long>& failures, StopWriters stopWriters) {
    for (int wait = 0; wait < 5000 && operations.load() < kLive; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    SampleCheck check;
    Sample(count, &check);
    stopWriters();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(check.inconsistent, 0);
    EXPECT_GT(check.instances, 0);
    std::printf("%s: %ld samples, %ld instances checked, %ld provider operations\n", label,
                check.samples, check.instances, operations.load());
}

TEST(Stress, ProviderThreadRacingTheCollector) {
    std::atomic<bool> stop{false};
    std::atomic<long> operations{0}, failures{0};
    std::thread writer(ProviderLoop, std::cref(stop), &operations, &failures);
    SampleWhileWriting("thread", 400, operations, failures, [&] {
        stop = true;
        writer.join();
    });
}

// Eight threads write into one publisher at once, each with its own instances
// (tags t, t + 8, t + 16, ...), while the collector samples.
TEST(Stress, EightWriterThreadsSharingOnePublisherRacingTheCollector) {
    constexpr int kWriters = 8;
    vzp_publisher* publisher = OpenServerPublisher();
    ASSERT_NE(publisher, nullptr);
    std::atomic<bool> stop{false};
    std::atomic<long> operations{0}, failures{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < kWriters; ++t)
        writers.emplace_back(WriterLoop, publisher, std::cref(stop), kLive / kWriters,
                             static_cast<DWORD>(t + 1), static_cast<DWORD>(kWriters), &operations,
                             &failures);
    SampleWhileWriting("8 writers", 200, operations, failures, [&] {
        stop = true;
        for (std::thread& writer : writers) writer.join();
        vzp_close(publisher);
    });
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
        std::atomic<long> failures{0};
        ProviderLoop(*stop, nullptr, &failures);
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

// --- The lock-free update path -------------------------------------------
// An object of one 32-bit and two 64-bit counters, published under the
// server's name so that the library's Collect reads it.
constexpr DWORD kLargeRawCount = 0x00010100u;  // PERF_COUNTER_LARGE_RAWCOUNT
const vzp_counter kUpdateCounters[3] = {{"calls", VZP_RAWCOUNT, 100, 0},
                                        {"bytes", kLargeRawCount, 100, 0},
                                        {"balance", kLargeRawCount, 100, 0}};

vzp_publisher* OpenUpdatePublisher() {
    vzp_object object = VZP_OBJECT_INIT;
    object.id = 4;
    object.name = "Update path";
    object.max_instance_name_length = 16;
    object.counters = kUpdateCounters;
    object.counter_count = 3;
    vzp_publisher* publisher = nullptr;
    return vzp_open(qvsim::kApplication, &object, &publisher) == VZP_OK ? publisher : nullptr;
}

// One collection through the library's exports, decoded by qvperf's decoder.
std::vector<qvperf::Instance> Collect() {
    static std::vector<BYTE> buffer(1 << 16);  // made once: clearing it costs more than a sample
    void* data = buffer.data();
    DWORD bytes = static_cast<DWORD>(buffer.size()), objects = 0;
    EXPECT_EQ(CollectPerfMon(u"Global", &data, &bytes, &objects), 0u);
    qvperf::DecodeResult decoded = qvperf::DecodePerfData(buffer.data(), bytes, objects);
    EXPECT_TRUE(decoded.problems.empty());
    return decoded.objects.size() == 1 ? decoded.objects[0].instances : std::vector<qvperf::Instance>();
}

const qvperf::Instance* Named(const std::vector<qvperf::Instance>& instances, const char* name) {
    for (const qvperf::Instance& instance : instances)
        if (instance.name == name) return &instance;
    return nullptr;
}

// Threads adding to the same counters lose no update, and each counter wraps
// at its own size: the 32-bit one starts 10 below 2^32, the 64-bit ones go up
// by 2^32 + 1 and down by 3 from 0.
TEST(Stress, AddsFromSeveralThreadsSumExactly) {
    constexpr int kThreads = 4;
    constexpr long kAdds = 50000;
    vzp_publisher* publisher = OpenUpdatePublisher();
    ASSERT_NE(publisher, nullptr);
    vzp_instance shared = 0;
    ASSERT_EQ(vzp_add_instance(publisher, "shared", &shared), VZP_OK);
    ASSERT_EQ(vzp_set_value(publisher, shared, 0, 0xFFFFFFF5u), VZP_OK);
    std::atomic<long> failures{0};
    std::vector<std::thread> adders;
    for (int t = 0; t < kThreads; ++t)
        adders.emplace_back([&] {
            for (long i = 0; i < kAdds; ++i)
                if (vzp_add(publisher, shared, 0, 1) != VZP_OK ||
                    vzp_add(publisher, shared, 1, (1LL << 32) + 1) != VZP_OK ||
                    vzp_add(publisher, shared, 2, -3) != VZP_OK)
                    failures.fetch_add(1);
        });
    for (std::thread& adder : adders) adder.join();
    EXPECT_EQ(failures.load(), 0);
    const std::vector<qvperf::Instance> instances = Collect();
    ClosePerfMon();
    vzp_close(publisher);
    ASSERT_EQ(instances.size(), 1u);
    const std::uint64_t adds = kThreads * kAdds;
    EXPECT_EQ(instances[0].values[0].number, (0xFFFFFFF5u + adds) & 0xFFFFFFFFu);
    EXPECT_EQ(instances[0].values[1].number, adds * ((1ULL << 32) + 1));
    EXPECT_EQ(instances[0].values[2].number, 0 - 3 * adds);
}

// One thread rewrites the 64-bit values of "whole" (each with equal halves)
// and counts its calls on it, while another adds and removes other instances
// as fast as it can, each carrying values derived from its name. Every sample
// must show whole 64-bit values and no value of one instance in another; at
// the end the count of "whole" is exact.
TEST(Stress, UpdatesRacingAddAndRemoveOfOtherInstances) {
    vzp_publisher* publisher = OpenUpdatePublisher();
    ASSERT_NE(publisher, nullptr);
    vzp_instance whole = 0;
    ASSERT_EQ(vzp_add_instance(publisher, "whole", &whole), VZP_OK);
    std::atomic<bool> stop{false};
    std::atomic<long> failures{0}, calls{0}, added{0};
    std::thread rewriter([&] {
        long n = 0;
        for (std::uint64_t k = 1; !stop.load(std::memory_order_relaxed); ++k, ++n) {
            const std::uint64_t equalHalves = (k & 0xFFFFFFFFu) * 0x100000001ULL;
            if (vzp_set_value(publisher, whole, 1, equalHalves) != VZP_OK ||
                vzp_set_value(publisher, whole, 2, ~equalHalves) != VZP_OK ||
                vzp_add(publisher, whole, 0, 1) != VZP_OK)
                failures.fetch_add(1);
        }
        calls = n;
    });
    std::thread churn([&] {
        std::vector<vzp_instance> live;
        for (DWORD tag = 1; !stop.load(std::memory_order_relaxed); ++tag) {
            vzp_instance instance = 0;
            const uint64_t values[3] = {Derived(tag, 0), Derived(tag, 1) * 0x100000001ULL,
                                        ~(Derived(tag, 2) * 0x100000001ULL)};
            if (vzp_add_instance(publisher, ("I" + std::to_string(tag)).c_str(), &instance) != VZP_OK ||
                vzp_set_all(publisher, instance, values, 3) != VZP_OK)
                failures.fetch_add(1);
            live.push_back(instance);
            added.fetch_add(1, std::memory_order_relaxed);
            if (live.size() > 20) {
                if (vzp_remove_instance(publisher, live.front()) != VZP_OK) failures.fetch_add(1);
                live.erase(live.begin());
            }
        }
    });
    // From 21 adds on, 20 other instances are live at every moment (5 s at most);
    // a sample misses those that move behind its walk while it walks.
    for (int wait = 0; wait < 5000 && added.load() < 21; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    long torn = 0, foreign = 0, seen = 0;
    for (int sample = 0; sample < 1000; ++sample) {
        for (const qvperf::Instance& instance : Collect()) {
            ++seen;
            for (int i = 1; i < 3; ++i)
                torn += (instance.values[i].number >> 32) != (instance.values[i].number & 0xFFFFFFFFu);
            if (instance.name == "whole") continue;
            const DWORD tag = static_cast<DWORD>(std::stoul(instance.name.substr(1)));
            const uint64_t expected[3] = {Derived(tag, 0), Derived(tag, 1) * 0x100000001ULL,
                                          ~(Derived(tag, 2) * 0x100000001ULL)};
            // set_all comes just after the add: a value may still be 0.
            for (int i = 0; i < 3; ++i)
                foreign += instance.values[i].number != expected[i] && instance.values[i].number != 0;
        }
    }
    stop = true;
    rewriter.join();
    churn.join();
    const std::vector<qvperf::Instance> last = Collect();
    ClosePerfMon();
    vzp_close(publisher);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(foreign, 0);
    EXPECT_GT(seen, 10 * 1000);
    const qvperf::Instance* counted = Named(last, "whole");
    ASSERT_NE(counted, nullptr);
    EXPECT_EQ(counted->values[0].number, static_cast<std::uint64_t>(calls.load()));
    std::printf("updates: %ld values checked in 1000 samples, %ld rewrites of \"whole\"\n", seen,
                calls.load());
}

}  // namespace
}  // namespace vz
