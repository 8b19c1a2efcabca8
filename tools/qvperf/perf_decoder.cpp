#include "perf_decoder.h"

#include <cstdio>
#include <cstring>

#include "support/wide_string.h"

namespace qvperf {

namespace {

constexpr std::uint32_t kObjectHeaderSize = 64;
constexpr std::uint32_t kCounterDefinitionSize = 40;
constexpr std::uint32_t kInstanceDefinitionSize = 24;
constexpr std::uint32_t kSizeMask = 0x300;
constexpr std::uint32_t kSizeDword = 0x000;
constexpr std::uint32_t kSizeLarge = 0x100;
constexpr std::uint32_t kSizeZero = 0x200;
constexpr std::uint32_t kSizeVariable = 0x300;
constexpr std::uint32_t kTextAscii = 0x10000;
constexpr std::int32_t kNoInstances = -1;
// What one decoded value may cost against the budget, besides its text.
constexpr std::size_t kValueCost = 4;

// A bounded view of the buffer; every read is checked, nothing is aligned.
class Bytes {
public:
    Bytes(const unsigned char* base, std::size_t size) : base_(base), size_(size) {}
    bool Has(std::size_t offset, std::size_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    std::uint32_t Word(std::size_t offset) const {
        std::uint32_t v;
        std::memcpy(&v, base_ + offset, 4);
        return v;
    }
    std::int64_t Quad(std::size_t offset) const {
        std::int64_t v;
        std::memcpy(&v, base_ + offset, 8);
        return v;
    }
    const unsigned char* At(std::size_t offset) const { return base_ + offset; }

private:
    const unsigned char* base_;
    std::size_t size_;
};

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
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        char16_t ch = static_cast<char16_t>(at[i] | (at[i + 1] << 8));
        if (ch == 0) break;
        text.push_back(ch);
    }
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

// The counter block at `offset` of the object view; false when malformed.
bool DecodeCounterBlock(const Bytes& object, std::size_t offset,
                        const std::vector<CounterDefinition>& counters, Budget& budget,
                        Instance* instance, std::uint32_t* blockLength, std::string* problem) {
    if (!object.Has(offset, 4)) {
        *problem = "counter block beyond the object";
        return false;
    }
    const std::uint32_t length = object.Word(offset);
    if (length < 4 || !object.Has(offset, length)) {
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
        const unsigned char* at = object.At(offset + counter.offset);
        const std::uint32_t sizeBits = counter.type & kSizeMask;
        if (sizeBits == kSizeVariable) {
            value.text = (counter.type & kTextAscii) ? AsciiText(at, counter.size)
                                                     : Utf16Text(at, counter.size);
        } else if (sizeBits == kSizeDword) {
            std::uint32_t v;
            std::memcpy(&v, at, 4);
            value.numeric = true;
            value.number = v;
        } else if (sizeBits == kSizeLarge) {
            std::memcpy(&value.number, at, 8);
            value.numeric = true;
        }
        if (!budget.Charge(value.text.size())) {
            *problem = "decoded values would exceed the bytes returned";
            return false;
        }
        instance->values.push_back(std::move(value));
    }
    *blockLength = length;
    return true;
}

// The size a counter of this type occupies; false for a variable-length one.
bool FixedCounterSize(std::uint32_t type, std::uint32_t* size) {
    switch (type & kSizeMask) {
        case kSizeDword: *size = 4; return true;
        case kSizeLarge: *size = 8; return true;
        case kSizeZero: *size = 0; return true;
        default: return false;
    }
}

// The instance name at `offset`: NameLength bytes ending in a UTF-16 zero,
// inside the instance definition. False when malformed.
bool DecodeInstanceName(const Bytes& object, std::size_t definition, std::uint32_t length,
                        Instance* instance, std::string* problem) {
    const std::uint32_t nameOffset = object.Word(definition + 16);
    const std::uint32_t nameLength = object.Word(definition + 20);
    if (nameOffset < kInstanceDefinitionSize || nameOffset > length ||
        nameLength > length - nameOffset) {
        *problem = "name outside its instance definition";
        return false;
    }
    const unsigned char* name = object.At(definition + nameOffset);
    if (nameLength < 2 || nameLength % 2 != 0 || name[nameLength - 2] != 0 ||
        name[nameLength - 1] != 0) {
        *problem = "name of " + std::to_string(nameLength) + " bytes not terminated";
        return false;
    }
    instance->name = Utf16Text(name, nameLength);
    return true;
}

// One object in a view that ends at its TotalByteLength.
bool DecodeObject(const Bytes& object, std::uint32_t total, Budget& budget, PerfObject* out,
                  std::string* problem) {
    const std::uint32_t definitionLength = object.Word(4);
    const std::uint32_t headerLength = object.Word(8);
    const std::uint32_t numCounters = object.Word(32);
    const std::int32_t numInstances = static_cast<std::int32_t>(object.Word(40));
    out->nameIndex = object.Word(12);
    out->helpIndex = object.Word(20);
    out->detailLevel = object.Word(28);
    out->defaultCounter = static_cast<std::int32_t>(object.Word(36));
    out->perfTime = object.Quad(48);
    out->perfFreq = object.Quad(56);
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
    std::size_t cursor = headerLength;
    for (std::uint32_t i = 0; i < numCounters; ++i) {
        if (definitionLength - cursor < kCounterDefinitionSize) {
            *problem = "counter definition " + std::to_string(i) + " beyond the definitions";
            return false;
        }
        const std::uint32_t length = object.Word(cursor);
        if (length < kCounterDefinitionSize || length > definitionLength - cursor) {
            *problem = "counter definition " + std::to_string(i) + " has length " +
                       std::to_string(length);
            return false;
        }
        CounterDefinition counter;
        counter.nameIndex = object.Word(cursor + 4);
        counter.helpIndex = object.Word(cursor + 12);
        counter.defaultScale = static_cast<std::int32_t>(object.Word(cursor + 20));
        counter.detailLevel = object.Word(cursor + 24);
        counter.type = object.Word(cursor + 28);
        counter.size = object.Word(cursor + 32);
        counter.offset = object.Word(cursor + 36);
        std::uint32_t fixedSize = 0;
        if (FixedCounterSize(counter.type, &fixedSize) && counter.size != fixedSize) {
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
    if (numInstances < kNoInstances) {
        *problem = "instance count " + std::to_string(numInstances);
        return false;
    }
    if (numInstances == kNoInstances) {
        out->hasInstances = false;
        Instance single;
        if (!DecodeCounterBlock(object, cursor, out->counters, budget, &single, &blockLength,
                                problem))
            return false;
        cursor += blockLength;
        out->instances.push_back(std::move(single));
    }
    for (std::int32_t i = 0; i < numInstances; ++i) {
        if (!object.Has(cursor, kInstanceDefinitionSize)) {
            *problem = "instance " + std::to_string(i) + " of " + std::to_string(numInstances) +
                       " beyond the object";
            return false;
        }
        const std::uint32_t length = object.Word(cursor);
        Instance instance;
        if (length < kInstanceDefinitionSize || !object.Has(cursor, length)) {
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
                   (numInstances == kNoInstances ? "counter block" : "instance");
        return false;
    }
    return true;
}

}  // namespace

DecodeResult DecodePerfData(const void* data, std::size_t bytes, std::uint32_t objectCount) {
    DecodeResult result;
    const Bytes all(static_cast<const unsigned char*>(data), data != nullptr ? bytes : 0);
    Budget budget(bytes);
    std::size_t offset = 0;
    for (std::uint32_t n = 0; n < objectCount; ++n) {
        const std::string where = "object " + std::to_string(n) + " at byte " +
                                  std::to_string(offset) + ": ";
        if (!all.Has(offset, kObjectHeaderSize)) {
            result.problems.push_back(where + "truncated header (" + std::to_string(bytes) +
                                      " bytes returned)");
            break;
        }
        const std::uint32_t total = all.Word(offset);
        if (total < kObjectHeaderSize || !all.Has(offset, total)) {
            // Without a usable length the next object cannot be found.
            result.problems.push_back(where + "total length " + std::to_string(total) +
                                      " out of bounds");
            break;
        }
        PerfObject object;
        std::string problem;
        if (DecodeObject(Bytes(all.At(offset), total), total, budget, &object, &problem))
            result.objects.push_back(std::move(object));
        else
            result.problems.push_back(where + problem);
        offset += total;
    }
    if (result.problems.empty() && offset != bytes)
        result.problems.push_back(std::to_string(bytes - offset) +
                                  " bytes after the last object");
    return result;
}

std::vector<std::string> CheckCollectCall(const CollectCall& call) {
    constexpr std::uint32_t kMoreData = 234;
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
