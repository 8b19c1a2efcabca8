#include "module/variable_table.h"

#include <new>

#include "platform/platform.h"

namespace vz {

VariableTable::VariableTable() noexcept {
    // The table grows one entry at a time.
    names_.SetGrowStep(1);
    values_.SetGrowStep(1);
}

bool VariableTable::Add(const WCHAR* name, const WCHAR* value) noexcept {
    try {
        WString nameCopy(name);
        WString valueCopy(value);
        if (!names_.Add(std::move(nameCopy))) return false;
        if (!values_.Add(std::move(valueCopy))) {
            names_.SetCount(count_);
            return false;
        }
        ++count_;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

const WCHAR* VariableTable::Lookup(const WCHAR* name) const noexcept {
    for (std::size_t i = 0; i < count_; ++i) {
        if (plat::lstrcmpiW(names_.GetData()[i].c_str(), name) == 0)
            return values_.GetData()[i].c_str();
    }
    return nullptr;
}

void VariableTable::Clear() noexcept {
    names_.RemoveAll();
    values_.RemoveAll();
    count_ = 0;
}

}  // namespace vz
