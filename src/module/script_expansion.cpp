// Variable expansion: the whole script is copied into one CoTaskMem block, with
// every %name% replaced by its value and "%%" by one "%". Values are inserted
// as they are; expansion does not recurse into them.
#include "module/registry_script.h"

namespace vz {

namespace {

constexpr std::size_t kMaxCapacityUnits = 0x3FFFFFFF;
constexpr std::size_t kSmallScriptCapacity = 1000;

class ExpansionBuffer {
public:
    ~ExpansionBuffer() { plat::CoTaskMemFree(text_); }

    bool Start(std::size_t scriptLength) {
        std::size_t capacity = 2 * scriptLength;
        if (capacity < 100) capacity = kSmallScriptCapacity;
        if (capacity > kMaxCapacityUnits) return false;
        text_ = static_cast<WCHAR*>(plat::CoTaskMemAlloc(capacity * sizeof(WCHAR)));
        if (text_ == nullptr) return false;
        capacity_ = capacity;
        text_[0] = 0;
        return true;
    }

    // Appends `count` units, doubling the capacity until the terminator fits.
    bool Append(const WCHAR* units, std::size_t count) {
        std::size_t capacity = capacity_;
        while (length_ + count + 1 > capacity) {
            capacity *= 2;
            if (capacity > kMaxCapacityUnits) return false;
        }
        if (capacity != capacity_) {
            void* grown = plat::CoTaskMemRealloc(text_, capacity * sizeof(WCHAR));
            if (grown == nullptr) return false;
            text_ = static_cast<WCHAR*>(grown);
            capacity_ = capacity;
        }
        for (std::size_t i = 0; i < count; ++i) text_[length_ + i] = units[i];
        length_ += count;
        text_[length_] = 0;
        return true;
    }

    WCHAR* Release() {
        WCHAR* text = text_;
        text_ = nullptr;
        return text;
    }

private:
    WCHAR* text_ = nullptr;
    std::size_t length_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace

HRESULT CRegistryScript::ExpandVariables(const WCHAR* script, WCHAR** text) {
    *text = nullptr;
    std::size_t scriptLength = 0;
    while (script[scriptLength] != 0) ++scriptLength;

    ExpansionBuffer output;
    if (!output.Start(scriptLength)) return E_OUTOFMEMORY;

    const WCHAR* step = script;
    while (*step != 0) {
        if (*step != u'%') {
            if (!output.Append(step, 1)) return E_OUTOFMEMORY;  // first unit of the step only
            step = plat::CharNextW(step);
            continue;
        }
        const WCHAR* nameStart = plat::CharNextW(step);
        if (*nameStart == u'%') {
            if (!output.Append(nameStart, 1)) return E_OUTOFMEMORY;
            step = plat::CharNextW(nameStart);
            continue;
        }
        const WCHAR* nameEnd = nameStart;
        while (*nameEnd != 0 && *nameEnd != u'%') nameEnd = plat::CharNextW(nameEnd);
        if (*nameEnd == 0) return DISP_E_EXCEPTION;
        const std::size_t nameLength = static_cast<std::size_t>(nameEnd - nameStart);
        if (nameLength > kMaxVariableNameUnits) return E_FAIL;

        WCHAR name[kMaxVariableNameUnits + 1];
        for (std::size_t i = 0; i < nameLength; ++i) name[i] = nameStart[i];
        name[nameLength] = 0;
        const WCHAR* value = variables_.Lookup(name);
        if (value == nullptr) return DISP_E_EXCEPTION;
        std::size_t valueLength = 0;
        while (value[valueLength] != 0) ++valueLength;
        if (!output.Append(value, valueLength)) return E_OUTOFMEMORY;
        step = plat::CharNextW(nameEnd);
    }
    *text = output.Release();
    return S_OK;
}

}  // namespace vz
