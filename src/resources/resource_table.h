// The library's resources as the emulated platform carries them: one entry per
// (type, name, language), with the bytes a Windows build keeps in its resource
// section. The table is generated at build time from the resource sources.
#pragma once
#include <cstddef>
#include <cstdint>

namespace vz {
namespace resources {

struct ResourceEntry {
    const char16_t* typeName;  // null when the type is an integer id
    std::uint16_t typeId;
    const char16_t* name;      // null when the name is an integer id
    std::uint16_t nameId;
    std::uint16_t language;
    const unsigned char* data;
    std::uint32_t size;
};

// Sorted by type, name and language.
extern const ResourceEntry kResourceTable[];
extern const std::size_t kResourceCount;

}  // namespace resources
}  // namespace vz
