#include "perf_decoder.h"

#include <cstring>

#include "support/wide_string.h"

namespace qvperf {

namespace {

constexpr std::uint32_t kObjectHeaderSize = 64;
constexpr std::uint32_t kCounterDefinitionSize = 40;
constexpr std::uint32_t kInstanceDefinitionSize = 24;
constexpr std::uint32_t kSizeMask = 0x300;
constexpr std::uint32_t kSizeVariable = 0x300;
constexpr std::uint32_t kTextAscii = 0x10000;

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

// The counter block at `offset` of the object view; false when malformed.
bool DecodeCounterBlock(const Bytes& object, std::size_t offset,
                        const std::vector<CounterDefinition>& counters, Instance* instance,
                        std::uint32_t* blockLength, std::string* problem) {
    if (!object.Has(offset, 4)) {
        *problem = "counter block beyond the object";
        return false;
    }
    const std::uint32_t length = object.Word(offset);
    if (length < 4 || !object.Has(offset, length)) {
        *problem = "counter block length " + std::to_string(length) + " out of bounds";
        return false;
    }
    for (const CounterDefinition& counter : counters) {
        CounterValue value;
        if (counter.offset > length || counter.size > length - counter.offset) {
            *problem = "counter value at " + std::to_string(counter.offset) +
                       " outside a counter block of " + std::to_string(length) + " bytes";
            return false;
        }
        const unsigned char* at = object.At(offset + counter.offset);
        if ((counter.type & kSizeMask) == kSizeVariable) {
            value.text = (counter.type & kTextAscii) ? AsciiText(at, counter.size)
                                                     : Utf16Text(at, counter.size);
        } else if (counter.size == 4) {
            std::uint32_t v;
            std::memcpy(&v, at, 4);
            value.numeric = true;
            value.number = v;
        } else if (counter.size == 8) {
            std::memcpy(&value.number, at, 8);
            value.numeric = true;
        }
        instance->values.push_back(value);
    }
    *blockLength = length;
    return true;
}

// One object in a view that ends at its TotalByteLength.
bool DecodeObject(const Bytes& object, std::uint32_t total, PerfObject* out,
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
        out->counters.push_back(counter);
        cursor += length;
    }

    cursor = definitionLength;
    std::uint32_t blockLength = 0;
    if (numInstances < 0) {
        out->hasInstances = false;
        Instance single;
        if (!DecodeCounterBlock(object, cursor, out->counters, &single, &blockLength, problem))
            return false;
        out->instances.push_back(single);
        return true;
    }
    for (std::int32_t i = 0; i < numInstances; ++i) {
        if (!object.Has(cursor, kInstanceDefinitionSize)) {
            *problem = "instance " + std::to_string(i) + " of " + std::to_string(numInstances) +
                       " beyond the object";
            return false;
        }
        const std::uint32_t length = object.Word(cursor);
        const std::uint32_t nameOffset = object.Word(cursor + 16);
        const std::uint32_t nameLength = object.Word(cursor + 20);
        if (length < kInstanceDefinitionSize || !object.Has(cursor, length) ||
            nameOffset < kInstanceDefinitionSize || nameOffset > length ||
            nameLength > length - nameOffset) {
            *problem = "instance " + std::to_string(i) + " definition out of bounds";
            return false;
        }
        Instance instance;
        instance.name = Utf16Text(object.At(cursor + nameOffset), nameLength);
        cursor += length;
        if (!DecodeCounterBlock(object, cursor, out->counters, &instance, &blockLength, problem)) {
            *problem = "instance " + std::to_string(i) + ": " + *problem;
            return false;
        }
        cursor += blockLength;
        out->instances.push_back(instance);
    }
    return true;
}

}  // namespace

DecodeResult DecodePerfData(const void* data, std::size_t bytes, std::uint32_t objectCount) {
    DecodeResult result;
    const Bytes all(static_cast<const unsigned char*>(data), data != nullptr ? bytes : 0);
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
        if (DecodeObject(Bytes(all.At(offset), total), total, &object, &problem))
            result.objects.push_back(std::move(object));
        else
            result.problems.push_back(where + problem);
        offset += total;
    }
    return result;
}

}  // namespace qvperf
