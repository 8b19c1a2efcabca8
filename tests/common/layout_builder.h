// Bytes in the system's formats, for tests and fuzz seeds: perflib's buffer,
// the serialized object map, instance records and title pair lists, laid out
// through perf_structures.h and byte_layout.h, never by numeric offsets.
// Header only: the fuzz seed writer uses it without the test library.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <stdexcept>
#include <vector>

#include "objectmap/perf_structures.h"
#include "server_object.h"
#include "sharedmem/byte_layout.h"
#include "support/utf_text.h"

namespace vz {
namespace test {

using Bytes = std::vector<uint8_t>;

// A structure (or word) at byte `at`, unaligned.
template <class T>
T Get(const void* bytes, std::size_t at = 0) {
    T value;
    std::memcpy(&value, static_cast<const uint8_t*>(bytes) + at, sizeof value);
    return value;
}
template <class T>
void Put(Bytes& bytes, std::size_t at, const T& value) {
    if (bytes.size() < at + sizeof value) bytes.resize(at + sizeof value);
    std::memcpy(bytes.data() + at, &value, sizeof value);
}
// One named field of the structure at `at`: Set(b, 0, &PERF_OBJECT_TYPE::NumInstances, 2).
template <class T, class F, class V>
void Set(Bytes& bytes, std::size_t at, F T::*field, V value) {
    T whole = Get<T>(bytes.data(), at);
    whole.*field = static_cast<F>(value);
    Put(bytes, at, whole);
}

// One perflib object as a library leaves it in the buffer: header, counter
// definitions, then instances (definition, name, counter block) or one counter
// block. Padding gets `fill`, as the caller's buffer had it; each part's offset
// is kept for tests that spoil one field.
class PerfObjectWriter {
public:
    explicit PerfObjectWriter(DWORD nameIndex, uint8_t fill = 0) : fill_(fill) {
        header.ObjectNameTitleIndex = nameIndex;
        header.ObjectHelpTitleIndex = nameIndex + 1;
        header.DetailLevel = PERF_DETAIL_NOVICE;
    }
    // A counter whose value lies at `offset` in each counter block; its help
    // index follows its name index (an unnamed one has neither).
    PerfObjectWriter& Counter(DWORD nameIndex, DWORD type, DWORD size, DWORD offset) {
        const DWORD helpIndex = nameIndex != 0 ? nameIndex + 1 : 0;
        counters_.push_back({sizeof(PERF_COUNTER_DEFINITION), nameIndex, 0, helpIndex, 0, 0,
                             PERF_DETAIL_NOVICE, type, size, offset});
        return *this;
    }
    // `count` DWORD raw counters, name indices from `firstIndex` in steps of 2.
    PerfObjectWriter& DwordCounters(DWORD count, DWORD firstIndex) {
        for (DWORD i = 0; i < count; ++i)
            Counter(firstIndex + 2 * i, PERF_COUNTER_RAWCOUNT, 4, kCounterBlockHeaderSize + 4 * i);
        return *this;
    }
    PerfObjectWriter& Instance(const std::u16string& name, const std::vector<DWORD>& words) {
        instances_.push_back({name, words});
        return *this;
    }
    // No instances: the object carries one counter block holding `words`.
    PerfObjectWriter& WithoutInstances(const std::vector<DWORD>& words) {
        header.NumInstances = PERF_NO_INSTANCES;
        instances_ = {{u"", words}};
        return *this;
    }

    Bytes Build() {
        Bytes b(counterAt(counters_.size()), 0);
        for (std::size_t i = 0; i < counters_.size(); ++i) Put(b, counterAt(i), counters_[i]);
        const bool withInstances = header.NumInstances != PERF_NO_INSTANCES;
        instanceAt.clear();
        blockAt.clear();
        for (const auto& [name, words] : instances_) {
            if (withInstances) {
                const DWORD nameBytes = 2 * static_cast<DWORD>(name.size() + 1);
                const PERF_INSTANCE_DEFINITION definition{
                    static_cast<DWORD>(InstanceDefinitionLength(nameBytes)), 0, 0, PERF_NO_UNIQUE_ID,
                    kInstanceNameOffset, nameBytes};
                instanceAt.push_back(b.size());
                b.resize(b.size() + definition.ByteLength, fill_);
                Put(b, instanceAt.back(), definition);
                std::memcpy(b.data() + instanceAt.back() + kInstanceNameOffset, name.c_str(), nameBytes);
            }
            blockAt.push_back(b.size());
            b.resize(b.size() + kCounterBlockHeaderSize, fill_);
            Put(b, blockAt.back(), PERF_COUNTER_BLOCK{kCounterBlockHeaderSize + 4 * DWORD(words.size())});
            for (DWORD word : words) Put(b, b.size(), word);
        }
        PERF_OBJECT_TYPE object = header;
        object.TotalByteLength = static_cast<DWORD>(b.size());
        object.DefinitionLength = static_cast<DWORD>(counterAt(counters_.size()));
        object.HeaderLength = sizeof(PERF_OBJECT_TYPE);
        object.NumCounters = static_cast<DWORD>(counters_.size());
        if (withInstances) object.NumInstances = static_cast<LONG>(instances_.size());
        Put(b, 0, object);
        return b;
    }
    static std::size_t counterAt(std::size_t index) {
        return sizeof(PERF_OBJECT_TYPE) + index * sizeof(PERF_COUNTER_DEFINITION);
    }
    PERF_OBJECT_TYPE header{};  // Build fills the lengths and counts
    std::vector<std::size_t> instanceAt, blockAt;  // where Build put each part

private:
    std::vector<PERF_COUNTER_DEFINITION> counters_;
    std::vector<std::pair<std::u16string, std::vector<DWORD>>> instances_;
    uint8_t fill_;
};

// The published object (server_object.h) as Collect writes it, without instances yet.
inline PerfObjectWriter PublishedObject(DWORD nameIndex, uint8_t fill = 0) {
    PerfObjectWriter object(nameIndex, fill);
    for (std::size_t i = 0; i < quorvane::kCounterCount; ++i) {
        const quorvane::PublishedCounter& counter = quorvane::kCounters[i];
        object.Counter(nameIndex + quorvane::TitleOffsetOf(i), counter.counterType, 4,
                       counter.dataOffset - kRecordHeaderSize + kCounterBlockHeaderSize);
    }
    return object;
}

struct MapEntry {
    MapEntryWords words;
    std::u16string name;
};

class SerializedMapBuilder {
public:
    SerializedMapBuilder& Category(DWORD id, DWORD noInstances, DWORD instanceDataSize,
                                   DWORD maxNameLength, DWORD nameIndex = 0, DWORD helpIndex = 0,
                                   std::u16string name = u"", DWORD detailLevel = PERF_DETAIL_NOVICE,
                                   DWORD defaultCounter = 0) {
        entries.push_back({{category_entry::kKindValue, id, detailLevel, defaultCounter, noInstances,
                            instanceDataSize, maxNameLength, nameIndex, helpIndex},
                           std::move(name)});
        return *this;
    }
    SerializedMapBuilder& Counter(DWORD type, DWORD dataOffset, DWORD nameIndex = 0,
                                  DWORD helpIndex = 0, std::u16string name = u"",
                                  DWORD maxCharacters = 0, LONG defaultScale = 0, DWORD id = 0,
                                  DWORD detailLevel = PERF_DETAIL_NOVICE) {
        entries.push_back({{counter_entry::kKindValue, id, detailLevel, type, maxCharacters, dataOffset,
                            static_cast<DWORD>(defaultScale), nameIndex, helpIndex},
                           std::move(name)});
        return *this;
    }
    // With names: a name record per entry follows the entries.
    Bytes Build(bool withNames) const {
        ULONGLONG size = MapEntriesEnd(entries.size());
        for (const MapEntry& entry : entries) size += withNames ? NameRecordSize(entry.name.size()) : 0;
        Bytes bytes(static_cast<std::size_t>(size));
        ByteWriter out(bytes.data(), bytes.size());
        bool fits = out.WriteWord(static_cast<DWORD>(size)) &&
                    out.WriteWord(static_cast<DWORD>(entries.size()));
        for (const MapEntry& entry : entries) fits = fits && WriteMapEntry(out, entry.words);
        if (withNames)
            for (const MapEntry& entry : entries)
                fits = fits && WriteNameRecord(out, entry.name.data(), entry.name.size());
        if (!fits) throw std::logic_error(out.FailureMessage());
        return bytes;
    }
    std::vector<MapEntry> entries;
};

// The published object's map (server_object.h), title indices from
// firstIndex, with the table's names when `withNames`.
inline SerializedMapBuilder ServerStatisticsMap(DWORD firstIndex, bool withNames = false) {
    SerializedMapBuilder map;
    map.Category(quorvane::kObjectId, 0, quorvane::kInstanceDataSize, quorvane::kMaxInstanceNameLength,
                 firstIndex, firstIndex + 1, withNames ? Utf8ToUtf16(quorvane::kObjectName) : u"");
    for (std::size_t i = 0; i < quorvane::kCounterCount; ++i) {
        const quorvane::PublishedCounter& counter = quorvane::kCounters[i];
        map.Counter(counter.counterType, counter.dataOffset, firstIndex + quorvane::TitleOffsetOf(i),
                    firstIndex + 1 + quorvane::TitleOffsetOf(i), withNames ? Utf8ToUtf16(counter.name) : u"");
    }
    return map;
}

// One record as a provider writes it into a block's instance area; by default
// a live record of the published object with room for the longest name.
struct InstanceRecordLayout {
    DWORD recordSize = (quorvane::kInstanceDataSize + 2 * quorvane::kMaxInstanceNameLength + 3) & ~3u;
    DWORD categoryId = quorvane::kObjectId;
    DWORD instanceId = 1;
    DWORD useCount = kLiveUseCount;
    DWORD nameOffset = quorvane::kInstanceDataSize;
    std::u16string name;
    std::vector<DWORD> values;  // one word each, from the end of the header on
};

// The record's bytes within max(recordSize, one word) and `room`; each field
// is written whole or not at all, so that a deliberately short record stays short.
inline Bytes RecordBytes(const InstanceRecordLayout& layout, std::size_t room) {
    Bytes record(std::min<std::size_t>(std::max<std::size_t>(layout.recordSize, kEndMarkSize), room), 0);
    ByteWriter out(record.data(), record.size());
    const auto put = [&out](ULONGLONG offset, DWORD value) { static_cast<void>(out.WordAt(offset, value)); };
    put(kRecordSizeOffset, layout.recordSize);
    put(kCategoryIdOffset, layout.categoryId);
    put(kInstanceIdOffset, layout.instanceId);
    put(kUseCountOffset, layout.useCount);
    put(kNameOffsetOffset, layout.nameOffset);
    for (std::size_t i = 0; i < layout.values.size(); ++i) put(kRecordHeaderSize + 4 * i, layout.values[i]);
    const std::u16string name = layout.name + u'\0';
    if (out.Seek(layout.nameOffset)) static_cast<void>(out.WriteBytes(name.data(), 2 * name.size()));
    return record;
}

using PairList = std::vector<std::pair<std::u16string, std::u16string>>;

// Raw multi-string characters of a pair list, terminating empty string included.
inline std::u16string EncodePairs(const PairList& pairs) {
    std::u16string raw;
    for (const auto& pair : pairs) raw += pair.first + u'\0' + pair.second + u'\0';
    raw.push_back(0);
    if (pairs.empty()) raw.push_back(0);  // an empty list still ends with two NULs
    return raw;
}

// The pairs up to the first empty string of a raw multi-string.
inline PairList DecodePairs(const std::u16string& raw) {
    std::vector<std::u16string> strings;
    for (std::size_t pos = 0; pos < raw.size() && raw[pos] != 0;) {
        const std::size_t end = std::min(raw.find(char16_t(0), pos), raw.size());
        strings.push_back(raw.substr(pos, end - pos));
        pos = end + 1;
    }
    PairList pairs;
    for (std::size_t i = 0; i + 1 < strings.size(); i += 2) pairs.emplace_back(strings[i], strings[i + 1]);
    return pairs;
}

inline std::u16string Decimal(ULONGLONG value) { return Utf8ToUtf16(std::to_string(value)); }

}  // namespace test
}  // namespace vz
