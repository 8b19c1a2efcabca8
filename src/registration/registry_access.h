// Registry places of the counter registration and the small helpers every
// registration step shares: REG_DWORD and REG_SZ access and the key paths
// built from an application name or a language code. Keys are held in the
// project's one owned key handle (platform/registry_key.h).
#pragma once
#include "platform/platform.h"
#include "platform/registry_key.h"
#include "support/allocation.h"
#include "support/hresult.h"
#include "support/registry_paths.h"
#include "support/wide_string.h"

namespace vz {

constexpr plat::REGSAM kReadWriteAccess = plat::KEY_READ | plat::KEY_WRITE;

// The code of a language id: its primary language in three lower-case hex digits.
void FormatLanguageCode(LANGID language, WCHAR code[4]);

// A character buffer from the library heap, freed when the holder goes away.
class WideBuffer {
public:
    WideBuffer() = default;
    WideBuffer(const WideBuffer&) = delete;
    WideBuffer& operator=(const WideBuffer&) = delete;
    ~WideBuffer() { FreeMemory(data_); }

    // False when the count is too large or no memory is left.
    bool Allocate(std::size_t count) noexcept {
        FreeMemory(data_);
        data_ = nullptr;
        if (count == 0 || count > static_cast<std::size_t>(-1) / sizeof(WCHAR)) return false;
        data_ = static_cast<WCHAR*>(AllocateRaw(count * sizeof(WCHAR)));
        return data_ != nullptr;
    }
    WCHAR* Get() const noexcept { return data_; }

private:
    WCHAR* data_ = nullptr;
};

// A REG_DWORD value; any other type, or a size other than 4, is invalid data.
[[nodiscard]] LONG ReadDwordValue(plat::HKEY key, const WCHAR* name, DWORD* value);
[[nodiscard]] LONG WriteDwordValue(plat::HKEY key, const WCHAR* name, DWORD value);
// A REG_SZ of (length + 1) * 2 bytes; a null text is invalid data.
[[nodiscard]] LONG WriteStringValue(plat::HKEY key, const WCHAR* name, const WCHAR* text);

// The four recorded range values of a performance key.
struct TitleRanges {
    DWORD firstCounter = 0;
    DWORD firstHelp = 0;
    DWORD lastCounter = 0;
    DWORD lastHelp = 0;
};
// Reads "First Counter", "First Help", "Last Counter", "Last Help" in that order.
[[nodiscard]] LONG ReadTitleRanges(plat::HKEY performanceKey, TitleRanges* ranges);

}  // namespace vz
