// Decoding of the performance data a perflib v1 library returns from Collect:
// PERF_OBJECT_TYPE, its PERF_COUNTER_DEFINITIONs, then instances (definition,
// name, counter block) or one counter block. Every length and offset is checked
// against the bytes the library reported; a malformed object is reported and
// skipped, and decoding goes on with the next object when it can be found.
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
    std::vector<std::string> problems;  // one line per malformed object
};

// `bytes` and `objectCount` as Collect returned them.
DecodeResult DecodePerfData(const void* data, std::size_t bytes, std::uint32_t objectCount);

}  // namespace qvperf
