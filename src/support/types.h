// Fixed-width Windows-style scalar types used across the library. They live in
// namespace vz so that the Win32 platform layer can include windows.h beside them.
#pragma once
#include <cstddef>
#include <cstdint>

namespace vz {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using BOOL = std::int32_t;
using WCHAR = char16_t;
using LANGID = std::uint16_t;
using LCID = std::uint32_t;
using HRESULT = std::int32_t;

}  // namespace vz
