// Providers racing the collector (the library's exports, qvperf's strict
// decoder): writer threads sharing one publisher, a writer process, adds from
// several threads, 64-bit rewrites beside add and remove of other instances.
// Values of "I<tag>" derive from the tag, so a copy torn between two occupants
// of a record, a free record reported or a torn 64-bit value shows.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "collect/perf_exports.h"
#include "common/emulated_machine.h"
#include "provider/update_object.h"
#include "reader/perf_decoder.h"
#include "server_statistics.h"

namespace vz {
namespace {

constexpr int kLive = 400;  // records of 212 bytes, 12 to a block of 4096: a chain of 34 blocks
constexpr DWORD kBlockSize = 4096;

// Value `i` of instance I<tag>: a 64-bit one repeats the word in both halves.
std::uint64_t TagValue(DWORD tag, std::size_t i, bool wide) {
    const DWORD word = tag * 2654435761u + static_cast<DWORD>(i) * 40503u;
    return wide ? word * 0x100000001ULL : word;
}

// "whole" has equal halves in its 64-bit values; I<tag> has the tag's values
// from counter 1 on, or 0 before they are set just after the add.
bool Consistent(const qvperf::PerfObject& object, const qvperf::Instance& instance) {
    const bool whole = instance.name == "whole";
    const DWORD tag = whole ? 0 : static_cast<DWORD>(std::stoul(instance.name.substr(1)));
    for (std::size_t i = 1; i < instance.values.size(); ++i) {
        const std::uint64_t value = instance.values[i].number;
        if (whole ? value >> 32 != (value & 0xFFFFFFFFu)
                  : value != 0 && value != TagValue(tag, i, object.counters[i].size == 8))
            return false;
    }
    return true;
}

vzp_publisher* OpenPublisher(const vzp_object& object) {
    vzp_publisher* publisher = nullptr;
    return vzp_open(qvsim::kApplication, &object, &publisher) == VZP_OK ? publisher : nullptr;
}

// What the writers and the test share (in memory both map, for a writer process).
struct Writers {
    std::atomic<bool> stop{false};
    std::atomic<long> operations{0}, failures{0};
};

// Until stop, keeps `live` instances I<tag> (tags firstTag, firstTag + tagStep,
// ...) of `object` on `publisher`, removing and rewriting them at random.
void WriterLoop(vzp_publisher* publisher, const vzp_object& object, Writers* writers, int live,
                DWORD firstTag, DWORD tagStep) {
    std::mt19937 random(firstTag);
    std::vector<std::pair<vzp_instance, DWORD>> instances;
    std::vector<std::uint64_t> values(object.counter_count);
    const auto fill = [&](DWORD tag) {
        values[0] = random();  // counter 0 changes freely
        for (std::size_t i = 1; i < values.size(); ++i)
            values[i] = TagValue(tag, i, (object.counters[i].counter_type & VZP_COUNTER_SIZE_MASK) ==
                                             VZP_COUNTER_SIZE_64);
        return values.data();
    };
    const auto ok = [writers](vzp_status status) {
        if (status != VZP_OK) writers->failures.fetch_add(1, std::memory_order_relaxed);
        return status == VZP_OK;
    };
    for (DWORD tag = firstTag; !writers->stop.load(std::memory_order_relaxed);) {
        const std::size_t k = instances.empty() ? 0 : random() % instances.size();
        if (instances.size() < static_cast<std::size_t>(live)) {
            vzp_instance instance = 0;
            if (ok(vzp_add_instance(publisher, ("I" + std::to_string(tag)).c_str(), &instance)) &&
                ok(vzp_set_all(publisher, instance, fill(tag), object.counter_count)))
                instances.emplace_back(instance, tag);
            tag += tagStep;
        } else if (random() % 2) {
            ok(vzp_remove_instance(publisher, instances[k].first));
            instances[k] = instances.back();
            instances.pop_back();
        } else {
            ok(vzp_set_all(publisher, instances[k].first, fill(instances[k].second),
                           object.counter_count));
        }
        writers->operations.fetch_add(1, std::memory_order_relaxed);
    }
}

// One collection through the exports, decoded by qvperf's strict decoder.
qvperf::PerfObject Collect() {
    static std::vector<BYTE> buffer(1 << 17);  // made once: clearing it costs more than a sample
    void* data = buffer.data();
    DWORD bytes = static_cast<DWORD>(buffer.size()), objects = 0;
    EXPECT_EQ(CollectPerfMon(u"Global", &data, &bytes, &objects), 0u);
    qvperf::DecodeResult decoded = qvperf::DecodePerfData(buffer.data(), bytes, objects);
    EXPECT_EQ(decoded.problems, std::vector<std::string>());
    return decoded.objects.size() == 1 ? decoded.objects[0] : qvperf::PerfObject();
}

// Once the writers have made `warmup` operations (5 s at most), samples
// `count` times, rebuilding from block 0 now and then; then stops the writers,
// checks that no call failed and every sample was consistent, and returns the
// number of instances checked.
template <typename JoinWriters>
long SampleWhileWriting(Writers& writers, long warmup, long count, JoinWriters joinWriters) {
    for (int wait = 0; wait < 5000 && writers.operations.load() < warmup; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    long instances = 0, inconsistent = 0;
    for (long sample = 0; sample < count; ++sample) {
        const qvperf::PerfObject object = Collect();
        for (const qvperf::Instance& instance : object.instances)
            inconsistent += !Consistent(object, instance);
        instances += static_cast<long>(object.instances.size());
        if (sample % 50 == 49) ClosePerfMon();
    }
    ClosePerfMon();
    writers.stop = true;
    joinWriters();
    EXPECT_EQ(writers.failures.load(), 0);
    EXPECT_EQ(inconsistent, 0);
    EXPECT_GT(instances, 0);
    std::printf("%ld samples, %ld instances checked, %ld writer operations\n", count, instances,
                writers.operations.load());
    return instances;
}

// Eight threads, each with its own instances (tags t, t + 8, ...).
TEST(Stress, EightWriterThreadsSharingOnePublisherRacingTheCollector) {
    test::ResetMachine(kBlockSize);
    const vzp_object object = qvsim::ServerStatisticsObject();
    vzp_publisher* publisher = OpenPublisher(object);
    ASSERT_NE(publisher, nullptr);
    Writers writers;
    std::vector<std::thread> threads;
    for (DWORD t = 1; t <= 8; ++t)
        threads.emplace_back(WriterLoop, publisher, std::cref(object), &writers, kLive / 8, t, 8);
    SampleWhileWriting(writers, kLive, 200, [&] {
        for (std::thread& thread : threads) thread.join();
    });
    vzp_close(publisher);
}

TEST(Stress, WriterProcessRacingTheCollector) {
    test::ResetMachine(kBlockSize);
    void* shared =
        mmap(nullptr, sizeof(Writers), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    Writers* writers = new (shared) Writers;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a test that died
        const vzp_object object = qvsim::ServerStatisticsObject();
        vzp_publisher* publisher = OpenPublisher(object);
        if (publisher == nullptr) _exit(1);
        WriterLoop(publisher, object, writers, kLive, 1, 1);
        vzp_close(publisher);
        _exit(0);
    }
    int status = -1;
    SampleWhileWriting(*writers, kLive, 400, [&] { waitpid(child, &status, 0); });
    EXPECT_EQ(status, 0);
    munmap(shared, sizeof(Writers));
}

// Adds lose no update, and each counter wraps at its own size: the 32-bit one
// starts 10 below 2^32, the 64-bit ones go up by 2^32 + 1 and down by 3 from 0.
TEST(Stress, AddsFromSeveralThreadsSumExactly) {
    constexpr int kThreads = 4;
    constexpr long kAdds = 50000;
    vzp_publisher* publisher = OpenPublisher(UpdateObject());
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
    const std::vector<qvperf::Instance> instances = Collect().instances;
    ClosePerfMon();
    vzp_close(publisher);
    ASSERT_EQ(instances.size(), 1u);
    const std::uint64_t adds = kThreads * kAdds;
    EXPECT_EQ(instances[0].values[0].number, (0xFFFFFFF5u + adds) & 0xFFFFFFFFu);
    EXPECT_EQ(instances[0].values[1].number, adds * ((1ULL << 32) + 1));
    EXPECT_EQ(instances[0].values[2].number, 0 - 3 * adds);
}

// One thread rewrites the 64-bit values of "whole" and counts its calls on it
// while a writer adds, removes and rewrites 20 other instances: the samples
// stay consistent and the final count is exact.
TEST(Stress, UpdatesRacingAddAndRemoveOfOtherInstances) {
    test::ResetMachine(kBlockSize);
    const vzp_object object = UpdateObject();
    vzp_publisher* publisher = OpenPublisher(object);
    ASSERT_NE(publisher, nullptr);
    vzp_instance whole = 0;
    ASSERT_EQ(vzp_add_instance(publisher, "whole", &whole), VZP_OK);
    Writers writers;
    long calls = 0;
    std::thread rewriter([&] {
        for (std::uint64_t k = 1; !writers.stop.load(std::memory_order_relaxed); ++k, ++calls) {
            const std::uint64_t equalHalves = (k & 0xFFFFFFFFu) * 0x100000001ULL;
            if (vzp_set_value(publisher, whole, 1, equalHalves) != VZP_OK ||
                vzp_set_value(publisher, whole, 2, ~equalHalves) != VZP_OK ||
                vzp_add(publisher, whole, 0, 1) != VZP_OK)
                writers.failures.fetch_add(1);
        }
    });
    std::thread churn(WriterLoop, publisher, std::cref(object), &writers, 20, 1, 1);
    const long instances = SampleWhileWriting(writers, 21, 1000, [&] {
        rewriter.join();
        churn.join();
    });
    EXPECT_GT(instances, 10 * 1000);
    const std::vector<qvperf::Instance> last = Collect().instances;
    ClosePerfMon();
    vzp_close(publisher);
    const auto counted = std::find_if(last.begin(), last.end(), [](const qvperf::Instance& instance) {
        return instance.name == "whole";
    });
    ASSERT_NE(counted, last.end());
    EXPECT_EQ(counted->values[0].number, static_cast<std::uint64_t>(calls));
}

}  // namespace
}  // namespace vz
