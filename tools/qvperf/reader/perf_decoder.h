// Decoding of the performance data a perflib v1 library returns from Collect:
// PERF_OBJECT_TYPE, its PERF_COUNTER_DEFINITIONs, then instances (definition,
// name, counter block) or one counter block. Every length and offset is checked
// against the bytes the library reported; a malformed object is reported and
// skipped, and decoding goes on with the next object when it can be found.
//
// The checks are strict: data without problems is exactly what a correct
// library writes. The objects' lengths add up to the bytes returned; the
// counter definitions fill the definition area; NumInstances instances
// (or, for PERF_NO_INSTANCES, exactly one counter block) fill the rest of the
// object; every name ends in a UTF-16 zero inside its instance definition;
// every value lies inside its counter block and fixed-size counters have the
// size of their type. The decoded values are charged against the bytes
// returned (4 bytes per value plus its text), so their memory stays a small
// multiple of the buffer whatever the library claims.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qvperf {

struct CounterDefinition {
    std::uint32_t nameIndex = 0;
    std::uint32_t helpIndex = 0;
    std::int32_t defaultScale = 0;
    std::uint32_t detailLevel = 0;
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    std::uint32_t offset = 0;  // inside the counter block
};

struct CounterValue {
    bool numeric = false;
    std::uint64_t number = 0;
    std::string text;  // UTF-8, for text counters
};

struct Instance {
    std::string name;  // UTF-8; empty for an object without instances
    std::vector<CounterValue> values;  // one per counter definition
};

struct PerfObject {
    std::uint32_t nameIndex = 0;
    std::uint32_t helpIndex = 0;
    std::uint32_t detailLevel = 0;
    std::int32_t defaultCounter = 0;
    bool hasInstances = true;
    std::int64_t perfTime = 0;
    std::int64_t perfFreq = 0;
    std::vector<CounterDefinition> counters;
    std::vector<Instance> instances;
};

struct DecodeResult {
    std::vector<PerfObject> objects;
    std::vector<std::string> problems;  // one line per malformed object; none: well formed
};

// `bytes` and `objectCount` as Collect returned them.
[[nodiscard]] DecodeResult DecodePerfData(const void* data, std::size_t bytes, std::uint32_t objectCount);

// One Collect call as the caller saw it: a buffer of `capacity` bytes followed
// by `guard` bytes, all filled with `fill` before the call.
struct CollectCall {
    std::uint32_t result = 0;
    const unsigned char* buffer = nullptr;
    std::size_t capacity = 0;
    std::size_t guard = 0;
    unsigned char fill = 0;
    std::size_t advanced = 0;  // how far *data moved
    std::uint32_t totalBytes = 0;
    std::uint32_t objectsBefore = 0;
    std::uint32_t objectsAfter = 0;
};

// Everything wrong with what the call left behind: a result other than 0 or
// ERROR_MORE_DATA; a failure that counts bytes or objects or moves *data;
// *data not advanced by exactly *totalBytes; a byte written past the buffer,
// or past *totalBytes when the call returned data; and every problem of
// DecodePerfData on the bytes returned.
// Empty when the call kept perflib's contract.
[[nodiscard]] std::vector<std::string> CheckCollectCall(const CollectCall& call);

// Calls `collect` (with CollectPerfMon's arguments) once on `buffer`, resized
// to capacity + guard bytes of `fill`, and records what the call did.
template <typename CollectFn>
CollectCall CallCollect(CollectFn collect, const char16_t* query, std::size_t capacity,
                        std::uint32_t objectsBefore, std::vector<unsigned char>* buffer,
                        std::size_t guard = 64, unsigned char fill = 0xA5) {
    buffer->assign(capacity + guard, fill);
    CollectCall call;
    call.buffer = buffer->data();
    call.capacity = capacity;
    call.guard = guard;
    call.fill = fill;
    void* data = buffer->data();
    std::uint32_t total = static_cast<std::uint32_t>(capacity);
    std::uint32_t objects = objectsBefore;
    call.result = collect(query, &data, &total, &objects);
    call.advanced = static_cast<std::size_t>(static_cast<unsigned char*>(data) - buffer->data());
    call.totalBytes = total;
    call.objectsBefore = objectsBefore;
    call.objectsAfter = objects;
    return call;
}

}  // namespace qvperf
