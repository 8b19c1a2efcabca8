// The script variables of one registrar: (name, value) pairs in the order they
// were added. A name may appear more than once; lookup takes the first entry.
#pragma once
#include "support/growable_array.h"
#include "support/wide_string.h"

namespace vz {

class VariableTable {
public:
    VariableTable() noexcept;
    VariableTable(const VariableTable&) = delete;
    VariableTable& operator=(const VariableTable&) = delete;

    // Copies both strings; false (and the table unchanged) when memory runs out.
    bool Add(const WCHAR* name, const WCHAR* value) noexcept;
    // The value of the first entry whose name matches case-insensitively, or null.
    const WCHAR* Lookup(const WCHAR* name) const noexcept;
    void Clear() noexcept;
    std::size_t Count() const noexcept { return count_; }

private:
    GrowableArray<WString> names_;
    GrowableArray<WString> values_;
    std::size_t count_ = 0;
};

}  // namespace vz
