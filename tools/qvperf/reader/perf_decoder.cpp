#include "reader/perf_decoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "objectmap/perf_structures.h"
#include "support/byte_cursor.h"
#include "support/hresult.h"
#include "support/unit_terminator.h"
#include "support/utf_text.h"

namespace qvperf {

namespace {

using vz::ByteReader;
using vz::PERF_COUNTER_BLOCK;
using vz::PERF_COUNTER_DEFINITION;
using vz::PERF_INSTANCE_DEFINITION;
using vz::PERF_OBJECT_TYPE;

constexpr std::size_t kObjectHeaderSize = sizeof(PERF_OBJECT_TYPE);
constexpr std::size_t kCounterDefinitionSize = sizeof(PERF_COUNTER_DEFINITION);
constexpr std::size_t kInstanceDefinitionSize = sizeof(PERF_INSTANCE_DEFINITION);
constexpr std::size_t kCounterBlockSize = sizeof(PERF_COUNTER_BLOCK);
// What one decoded value may cost against the budget, besides its text.
constexpr std::size_t kValueCost = 4;

// The word at `at`; zero when it lies outside the range. The reader keeps the
// refusal: every structure's fields are read before its extent is judged, and
// a reader that Failed() makes the structure malformed (Refused below).
std::uint32_t WordAt(ByteReader& bytes, std::size_t at) {
    vz::DWORD value = 0;
    return bytes.WordAt(at, &value) ? value : 0;
}

// True, with the reader's message as the problem, when a read was refused.
bool Refused(const ByteReader& bytes, std::string* problem) {
    if (!bytes.Failed()) return false;
    *problem = bytes.FailureMessage();
    return true;
}
// A 32-bit field of the perflib structure that starts at `at`.
#define QVPERF_FIELD(type, bytes, at, member) WordAt(bytes, (at) + offsetof(vz::type, member))

std::int64_t Quad(ByteReader& bytes, std::size_t at) {
    const std::uint64_t low = WordAt(bytes, at), high = WordAt(bytes, at + 4);
    return static_cast<std::int64_t>((high << 32) | low);
}

// Decoded values are charged against the bytes the library returned, so a
// library cannot make the decoder allocate more than a small multiple of its
// buffer (counters sharing bytes, or zero-size counters, would otherwise let
// the values grow with counters x instances).
class Budget {
public:
    explicit Budget(std::size_t bytes) : left_(bytes) {}
    bool Charge(std::size_t cost) {
        if (cost > left_) return false;
        left_ -= cost;
        return true;
    }

private:
    std::size_t left_;
};

std::string Utf16Text(const unsigned char* at, std::size_t bytes) {
    // Names are nearly always ASCII: those are copied straight into the result
    // (short ones fit its inline storage), others go through the UTF-8 encoder.
    std::size_t units = 0;
    if (!vz::FindUnitTerminator(at, bytes / 2, &units)) units = bytes / 2;  // fills the bytes
    bool ascii = true;
    for (std::size_t i = 0; i < units && ascii; ++i) ascii = at[2 * i] < 0x80 && at[2 * i + 1] == 0;
    if (ascii) {
        std::string text(units, '\0');
        for (std::size_t i = 0; i < units; ++i) text[i] = static_cast<char>(at[2 * i]);
        return text;
    }
    std::u16string text(units, u'\0');
    for (std::size_t i = 0; i < units; ++i)
        text[i] = static_cast<char16_t>(at[2 * i] | (at[2 * i + 1] << 8));
    return vz::Utf16ToUtf8(text);
}

std::string AsciiText(const unsigned char* at, std::size_t bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes && at[i] != 0; ++i) text.push_back(static_cast<char>(at[i]));
    return text;
}

std::string Hex(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

// The counter block at `offset` of the object; false when malformed.
bool DecodeCounterBlock(ByteReader& object, std::size_t offset,
                        const std::vector<CounterDefinition>& counters, Budget& budget,
                        Instance* instance, std::uint32_t* blockLength, std::string* problem) {
    if (!object.Holds(offset, kCounterBlockSize)) {
        *problem = "counter block beyond the object";
        return false;
    }
    const std::uint32_t length = QVPERF_FIELD(PERF_COUNTER_BLOCK, object, offset, ByteLength);
    if (Refused(object, problem)) return false;
    if (length < kCounterBlockSize || !object.Holds(offset, length)) {
        *problem = "counter block length " + std::to_string(length) + " out of bounds";
        return false;
    }
    if (!budget.Charge(kValueCost * counters.size())) {
        *problem = "decoded values would exceed the bytes returned";
        return false;
    }
    instance->values.reserve(counters.size());
    for (const CounterDefinition& counter : counters) {
        CounterValue value;
        if (counter.offset > length || counter.size > length - counter.offset) {
            *problem = "counter value at " + std::to_string(counter.offset) +
                       " outside a counter block of " + std::to_string(length) + " bytes";
            return false;
        }
        const unsigned char* at = nullptr;
        if (!object.SpanAt(offset + counter.offset, counter.size, &at)) {
            *problem = object.FailureMessage();
            return false;
        }
        const std::uint32_t sizeBits = counter.type & vz::PERF_SIZE_MASK;
        if (sizeBits == vz::PERF_SIZE_VARIABLE_LEN) {
            value.text = (counter.type & vz::PERF_TEXT_ASCII) ? AsciiText(at, counter.size)
                                                              : Utf16Text(at, counter.size);
        } else if (sizeBits == vz::PERF_SIZE_DWORD) {
            value.numeric = true;
            value.number = WordAt(object, offset + counter.offset);
        } else if (sizeBits == vz::PERF_SIZE_LARGE) {
            value.numeric = true;
            value.number = static_cast<std::uint64_t>(Quad(object, offset + counter.offset));
        }
        if (Refused(object, problem)) return false;
        if (!budget.Charge(value.text.size())) {
            *problem = "decoded values would exceed the bytes returned";
            return false;
        }
        instance->values.push_back(std::move(value));
    }
    *blockLength = length;
    return true;
}

// The instance name: NameLength bytes ending in a UTF-16 zero, inside the
// instance definition of `length` bytes at `definition`. False when malformed.
bool DecodeInstanceName(ByteReader& object, std::size_t definition, std::uint32_t length,
                        Instance* instance, std::string* problem) {
    const std::uint32_t nameOffset =
        QVPERF_FIELD(PERF_INSTANCE_DEFINITION, object, definition, NameOffset);
    const std::uint32_t nameLength =
        QVPERF_FIELD(PERF_INSTANCE_DEFINITION, object, definition, NameLength);
    if (nameOffset < kInstanceDefinitionSize || nameOffset > length ||
        nameLength > length - nameOffset) {
        *problem = "name outside its instance definition";
        return false;
    }
    const unsigned char* name = nullptr;
    if (Refused(object, problem) || !object.SpanAt(definition + nameOffset, nameLength, &name)) {
        *problem = object.FailureMessage();
        return false;
    }
    if (nameLength < 2 || nameLength % 2 != 0 || name[nameLength - 2] != 0 ||
        name[nameLength - 1] != 0) {
        *problem = "name of " + std::to_string(nameLength) + " bytes not terminated";
        return false;
    }
    instance->name = Utf16Text(name, nameLength);
    return true;
}

// One object in a range that ends at its TotalByteLength.
bool DecodeObject(ByteReader& object, std::uint32_t total, Budget& budget, PerfObject* out,
                  std::string* problem) {
    const std::uint32_t definitionLength =
        QVPERF_FIELD(PERF_OBJECT_TYPE, object, 0, DefinitionLength);
    const std::uint32_t headerLength = QVPERF_FIELD(PERF_OBJECT_TYPE, object, 0, HeaderLength);
    const std::uint32_t numCounters = QVPERF_FIELD(PERF_OBJECT_TYPE, object, 0, NumCounters);
    const std::int32_t numInstances =
        static_cast<std::int32_t>(QVPERF_FIELD(PERF_OBJECT_TYPE, object, 0, NumInstances));
    out->nameIndex = QVPERF_FIELD(PERF_OBJECT_TYPE, object, 0, ObjectNameTitleIndex);
    out->helpIndex = QVPERF_FIELD(PERF_OBJECT_TYPE, object, 0, ObjectHelpTitleIndex);
    out->detailLevel = QVPERF_FIELD(PERF_OBJECT_TYPE, object, 0, DetailLevel);
    out->defaultCounter =
        static_cast<std::int32_t>(QVPERF_FIELD(PERF_OBJECT_TYPE, object, 0, DefaultCounter));
    out->perfTime = Quad(object, offsetof(PERF_OBJECT_TYPE, PerfTime));
    out->perfFreq = Quad(object, offsetof(PERF_OBJECT_TYPE, PerfFreq));
    if (Refused(object, problem)) return false;
    if (headerLength < kObjectHeaderSize || headerLength > definitionLength ||
        definitionLength > total) {
        *problem = "header length " + std::to_string(headerLength) + " / definition length " +
                   std::to_string(definitionLength) + " do not fit a total of " +
                   std::to_string(total);
        return false;
    }
    if (numCounters > (definitionLength - headerLength) / kCounterDefinitionSize) {
        *problem = std::to_string(numCounters) + " counters do not fit the definitions";
        return false;
    }
    out->counters.reserve(numCounters);
    std::size_t cursor = headerLength;
    for (std::uint32_t i = 0; i < numCounters; ++i) {
        const std::uint32_t length =
            QVPERF_FIELD(PERF_COUNTER_DEFINITION, object, cursor, ByteLength);
        if (definitionLength - cursor < kCounterDefinitionSize ||
            length < kCounterDefinitionSize || length > definitionLength - cursor) {
            *problem = "counter definition " + std::to_string(i) + " has length " +
                       std::to_string(length);
            return false;
        }
        CounterDefinition counter;
        counter.nameIndex =
            QVPERF_FIELD(PERF_COUNTER_DEFINITION, object, cursor, CounterNameTitleIndex);
        counter.helpIndex =
            QVPERF_FIELD(PERF_COUNTER_DEFINITION, object, cursor, CounterHelpTitleIndex);
        counter.defaultScale = static_cast<std::int32_t>(
            QVPERF_FIELD(PERF_COUNTER_DEFINITION, object, cursor, DefaultScale));
        counter.detailLevel = QVPERF_FIELD(PERF_COUNTER_DEFINITION, object, cursor, DetailLevel);
        counter.type = QVPERF_FIELD(PERF_COUNTER_DEFINITION, object, cursor, CounterType);
        counter.size = QVPERF_FIELD(PERF_COUNTER_DEFINITION, object, cursor, CounterSize);
        counter.offset = QVPERF_FIELD(PERF_COUNTER_DEFINITION, object, cursor, CounterOffset);
        if (Refused(object, problem)) return false;
        // Fixed-size counters have the size of their type (the counter-size rule).
        if ((counter.type & vz::PERF_SIZE_MASK) != vz::PERF_SIZE_VARIABLE_LEN &&
            counter.size != vz::CounterValueBytes(counter.type, 0)) {
            *problem = "counter definition " + std::to_string(i) + " of type 0x" +
                       Hex(counter.type) + " has size " + std::to_string(counter.size);
            return false;
        }
        out->counters.push_back(counter);
        cursor += length;
    }
    if (cursor != definitionLength) {
        *problem = "counter definitions end at " + std::to_string(cursor) +
                   ", the definition length is " + std::to_string(definitionLength);
        return false;
    }

    cursor = definitionLength;
    std::uint32_t blockLength = 0;
    if (numInstances < vz::PERF_NO_INSTANCES) {
        *problem = "instance count " + std::to_string(numInstances);
        return false;
    }
    if (numInstances == vz::PERF_NO_INSTANCES) {
        out->hasInstances = false;
        Instance single;
        if (!DecodeCounterBlock(object, cursor, out->counters, budget, &single, &blockLength,
                                problem))
            return false;
        cursor += blockLength;
        out->instances.push_back(std::move(single));
    }
    // Every instance takes at least its definition and a counter block, so the
    // bytes left bound what is reserved whatever NumInstances claims.
    if (numInstances > 0)
        out->instances.reserve(std::min<std::size_t>(
            static_cast<std::size_t>(numInstances),
            (total - cursor) / (kInstanceDefinitionSize + kCounterBlockSize)));
    for (std::int32_t i = 0; i < numInstances; ++i) {
        if (!object.Holds(cursor, kInstanceDefinitionSize)) {
            *problem = "instance " + std::to_string(i) + " of " + std::to_string(numInstances) +
                       " beyond the object";
            return false;
        }
        const std::uint32_t length =
            QVPERF_FIELD(PERF_INSTANCE_DEFINITION, object, cursor, ByteLength);
        if (Refused(object, problem)) return false;
        Instance instance;
        if (length < kInstanceDefinitionSize || !object.Holds(cursor, length)) {
            *problem = "instance " + std::to_string(i) + " definition out of bounds";
            return false;
        }
        if (!DecodeInstanceName(object, cursor, length, &instance, problem) ||
            !DecodeCounterBlock(object, cursor + length, out->counters, budget, &instance,
                                &blockLength, problem)) {
            *problem = "instance " + std::to_string(i) + ": " + *problem;
            return false;
        }
        cursor += length + blockLength;
        out->instances.push_back(std::move(instance));
    }
    if (cursor != total) {
        *problem = std::to_string(total - cursor) + " bytes after the last " +
                   (numInstances == vz::PERF_NO_INSTANCES ? "counter block" : "instance");
        return false;
    }
    return true;
}

}  // namespace

DecodeResult DecodePerfData(const void* data, std::size_t bytes, std::uint32_t objectCount) {
    DecodeResult result;
    ByteReader all(data, bytes);
    Budget budget(all.Size());
    std::size_t offset = 0;
    for (std::uint32_t n = 0; n < objectCount; ++n) {
        const std::string where = "object " + std::to_string(n) + " at byte " +
                                  std::to_string(offset) + ": ";
        if (!all.Holds(offset, kObjectHeaderSize)) {
            result.problems.push_back(where + "truncated header (" + std::to_string(bytes) +
                                      " bytes returned)");
            break;
        }
        const std::uint32_t total = QVPERF_FIELD(PERF_OBJECT_TYPE, all, offset, TotalByteLength);
        if (all.Failed() || total < kObjectHeaderSize || !all.Holds(offset, total)) {
            // Without a usable length the next object cannot be found.
            result.problems.push_back(where + "total length " + std::to_string(total) +
                                      " out of bounds");
            break;
        }
        PerfObject object;
        std::string problem;
        const unsigned char* start = nullptr;
        if (!all.SpanAt(offset, total, &start)) break;  // Holds() above: cannot happen
        ByteReader range(start, total);
        if (DecodeObject(range, total, budget, &object, &problem))
            result.objects.push_back(std::move(object));
        else
            result.problems.push_back(where + problem);
        offset += total;
    }
    if (result.problems.empty() && offset != all.Size())
        result.problems.push_back(std::to_string(all.Size() - offset) +
                                  " bytes after the last object");
    return result;
}

std::vector<std::string> CheckCollectCall(const CollectCall& call) {
    constexpr std::uint32_t kMoreData = vz::ERROR_MORE_DATA;
    std::vector<std::string> problems;
    for (std::size_t i = call.capacity; i < call.capacity + call.guard; ++i)
        if (call.buffer[i] != call.fill) {
            problems.push_back("byte " + std::to_string(i) + " written past the buffer of " +
                               std::to_string(call.capacity));
            return problems;
        }
    if (call.result != 0 && call.result != kMoreData) {
        problems.push_back("result " + std::to_string(call.result));
        return problems;
    }
    if (call.result == kMoreData) {
        if (call.totalBytes != 0 || call.objectsAfter != 0 || call.advanced != 0)
            problems.push_back("ERROR_MORE_DATA with " + std::to_string(call.totalBytes) +
                               " bytes, " + std::to_string(call.objectsAfter) + " objects, " +
                               std::to_string(call.advanced) + " bytes advanced");
        return problems;
    }
    if (call.advanced != call.totalBytes || call.totalBytes > call.capacity) {
        problems.push_back("data advanced by " + std::to_string(call.advanced) + " for " +
                           std::to_string(call.totalBytes) + " bytes of " +
                           std::to_string(call.capacity));
        return problems;
    }
    // A sample that failed on the way may leave scratch bytes in the buffer;
    // perflib ignores a buffer that holds no data.
    if (call.totalBytes == 0) {
        if (call.objectsAfter != call.objectsBefore && call.objectsAfter != 0)
            problems.push_back(std::to_string(call.objectsAfter) + " objects in no bytes");
        return problems;
    }
    for (std::size_t i = call.totalBytes; i < call.capacity; ++i)
        if (call.buffer[i] != call.fill) {
            problems.push_back("byte " + std::to_string(i) + " written past the " +
                               std::to_string(call.totalBytes) + " bytes returned");
            return problems;
        }
    if (call.objectsAfter <= call.objectsBefore) {
        problems.push_back(std::to_string(call.totalBytes) + " bytes in no object");
        return problems;
    }
    return DecodePerfData(call.buffer, call.totalBytes, call.objectsAfter - call.objectsBefore)
        .problems;
}

}  // namespace qvperf
