// The object description a publisher writes at the start of block 0, checked
// and laid out from the SDK's vzp_object, and its serialized form.
#include "map_description.h"

#include <cstring>

#include "support/wide_string.h"

namespace vz {
namespace provider {

bool ConvertName(const char* utf8, std::u16string* name) {
    if (utf8 == nullptr) return false;
    const std::string text(utf8);
    *name = Utf8ToUtf16(text);
    // The conversion replaces what is not UTF-8; a name must come back whole.
    return Utf16ToUtf8(*name) == text;
}

vzp_status DescribeObject(const vzp_object& object, MapDescription* map) {
    CategoryDescription category;
    if (!ConvertName(object.name, &category.name)) return VZP_ERROR_INVALID_ARGUMENT;
    if (category.name.empty() || object.counters == nullptr || object.counter_count == 0 ||
        object.counter_count > kMaxCounters || object.default_counter >= object.counter_count ||
        object.max_instance_name_length < 2 ||
        object.max_instance_name_length > kMaxInstanceNameLength)
        return VZP_ERROR_BAD_DESCRIPTION;
    category.id = object.id;
    category.detailLevel = object.detail_level;
    category.defaultCounter = object.default_counter;
    category.maxInstanceNameLength = object.max_instance_name_length;
    DWORD name = object.first_name_index, help = object.first_help_index;
    category.nameTitleIndex = name;
    category.helpTitleIndex = help;
    DWORD offset = kRecordHeaderSize;
    for (DWORD i = 0; i < object.counter_count; ++i) {
        const vzp_counter& source = object.counters[i];
        CounterDescription counter;
        if (!ConvertName(source.name, &counter.name)) return VZP_ERROR_INVALID_ARGUMENT;
        if (counter.name.empty() ||
            (source.counter_type & VZP_COUNTER_SIZE_MASK) == VZP_COUNTER_SIZE_MASK)
            return VZP_ERROR_BAD_DESCRIPTION;
        counter.counterType = source.counter_type;
        counter.detailLevel = source.detail_level;
        counter.defaultScale = source.default_scale;
        counter.dataOffset = offset;
        offset += counter.ValueSize();
        if (name != 0 || help != 0) {
            name += 2;
            help += 2;
        }
        counter.nameTitleIndex = name;
        counter.helpTitleIndex = help;
        category.counters.push_back(std::move(counter));
    }
    category.instanceDataSize = offset;
    map->assign(1, std::move(category));
    return VZP_OK;
}

namespace {

void PutWord(std::vector<BYTE>& bytes, DWORD value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<BYTE>(value >> (8 * i)));
}

void PutEntry(std::vector<BYTE>& bytes, const DWORD (&words)[9]) {
    for (DWORD w : words) PutWord(bytes, w);
}

void PutName(std::vector<BYTE>& bytes, const std::u16string& name) {
    PutWord(bytes, static_cast<DWORD>(name.size()));
    for (char16_t ch : name) {
        bytes.push_back(static_cast<BYTE>(ch & 0xFF));
        bytes.push_back(static_cast<BYTE>(ch >> 8));
    }
    while (bytes.size() % 4 != 0) bytes.push_back(0);
}

}  // namespace

std::vector<BYTE> SerializeMap(const MapDescription& map) {
    DWORD entries = 0;
    for (const CategoryDescription& category : map)
        entries += 1 + static_cast<DWORD>(category.counters.size());
    std::vector<BYTE> bytes;
    PutWord(bytes, 0);  // map size, filled in below
    PutWord(bytes, entries);
    for (const CategoryDescription& category : map) {
        const DWORD words[9] = {1,
                                category.id,
                                category.detailLevel,
                                category.defaultCounter,
                                category.noInstances ? 0xFFFFFFFFu : 0u,
                                category.instanceDataSize,
                                category.maxInstanceNameLength,
                                category.nameTitleIndex,
                                category.helpTitleIndex};
        PutEntry(bytes, words);
        for (const CounterDescription& counter : category.counters) {
            const DWORD counterWords[9] = {0,
                                           counter.id,
                                           counter.detailLevel,
                                           counter.counterType,
                                           counter.maxCharacters,
                                           counter.dataOffset,
                                           static_cast<DWORD>(counter.defaultScale),
                                           counter.nameTitleIndex,
                                           counter.helpTitleIndex};
            PutEntry(bytes, counterWords);
        }
    }
    for (const CategoryDescription& category : map) {
        PutName(bytes, category.name);
        for (const CounterDescription& counter : category.counters) PutName(bytes, counter.name);
    }
    const DWORD size = static_cast<DWORD>(bytes.size());
    std::memcpy(bytes.data(), &size, 4);  // little-endian targets only
    return bytes;
}

std::u16string BlockName(const std::u16string& application, DWORD number) {
    std::string digits = std::to_string(number);
    while (digits.size() < 3) digits.insert(digits.begin(), '0');
    return u"Global\\ATLPERF_" + application + u"_" + std::u16string(digits.begin(), digits.end());
}

std::u16string ClaimName(const std::u16string& application) {
    return u"Global\\ATLPERF_" + application + u"_publisher";
}

}  // namespace provider
}  // namespace vz
