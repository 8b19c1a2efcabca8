// The object description a publisher writes at the start of block 0, checked
// and laid out from the SDK's vzp_object, and its serialized form.
#include "map_description.h"

#include <cstring>

#include "platform/platform.h"
#include "support/utf_text.h"

namespace vz {
namespace provider {

bool ConvertName(const char* utf8, std::u16string* name) {
    name->clear();
    return utf8 != nullptr &&
           DecodeUtf8(reinterpret_cast<const unsigned char*>(utf8), std::strlen(utf8), name);
}

vzp_status DescribeObject(const vzp_object& object, MapDescription* map) {
    CategoryDescription category;
    if (!ConvertName(object.name, &category.name)) return VZP_ERROR_INVALID_ARGUMENT;
    if (category.name.empty() || object.counters == nullptr || object.counter_count == 0 ||
        object.counter_count > kMaxCounters || object.default_counter >= object.counter_count ||
        object.max_instance_name_length < 2 ||
        object.max_instance_name_length > kMaxInstanceNameLength)
        return VZP_ERROR_BAD_DESCRIPTION;
    DWORD name = object.first_name_index, help = object.first_help_index;
    category.entry.id = object.id;
    category.entry.detailLevel = object.detail_level;
    category.entry.defaultCounter = object.default_counter;
    category.entry.maxInstanceNameLength = object.max_instance_name_length;
    category.entry.nameTitleIndex = name;
    category.entry.helpTitleIndex = help;
    DWORD offset = kRecordHeaderSize;
    for (DWORD i = 0; i < object.counter_count; ++i) {
        const vzp_counter& source = object.counters[i];
        CounterDescription counter;
        if (!ConvertName(source.name, &counter.name)) return VZP_ERROR_INVALID_ARGUMENT;
        if (counter.name.empty() ||
            (source.counter_type & VZP_COUNTER_SIZE_MASK) == VZP_COUNTER_SIZE_MASK)
            return VZP_ERROR_BAD_DESCRIPTION;
        counter.entry.counterType = source.counter_type;
        counter.entry.detailLevel = source.detail_level;
        counter.entry.defaultScale = source.default_scale;
        // A 64-bit value on an 8-byte boundary is stored whole, also by a 32-bit machine.
        if (counter.ValueSize() == 8) offset = (offset + 7) & ~7u;
        counter.entry.dataOffset = offset;
        offset += counter.ValueSize();
        if (name != 0 || help != 0) {
            name += 2;
            help += 2;
        }
        counter.entry.nameTitleIndex = name;
        counter.entry.helpTitleIndex = help;
        category.counters.push_back(std::move(counter));
    }
    category.entry.instanceDataSize = offset;
    map->assign(1, std::move(category));
    return VZP_OK;
}

std::vector<BYTE> SerializeMap(const MapDescription& map) {
    ULONGLONG size = kMapHeaderSize;
    for (const CategoryDescription& category : map) {
        size += kMapEntrySize + NameRecordSize(category.name.size());
        for (const CounterDescription& counter : category.counters)
            size += kMapEntrySize + NameRecordSize(counter.name.size());
    }
    std::vector<BYTE> bytes(static_cast<std::size_t>(size));
    ByteWriter out(bytes.data(), bytes.size());
    // Sized above, so it fits; an empty result would say otherwise.
    if (!WriteSerializedMap(out, static_cast<DWORD>(size), map)) bytes.clear();
    return bytes;
}

std::u16string BlockName(const std::u16string& application, DWORD number) {
    char16_t name[plat::MAX_PATH + 1];
    const std::size_t units = FormatBlockName(application.c_str(), number, name, plat::MAX_PATH + 1);
    return std::u16string(name, units);
}

std::u16string ClaimName(const std::u16string& application) {
    char16_t name[plat::MAX_PATH + 1];
    const std::size_t units = FormatClaimName(application.c_str(), name, plat::MAX_PATH + 1);
    return std::u16string(name, units);
}

}  // namespace provider
}  // namespace vz
