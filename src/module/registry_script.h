// The registry-script runner. A script names root keys, nests subkeys in brace
// blocks and attaches typed values; in register mode the runner creates what
// the text describes, in unregister mode it removes it again (except keys
// marked NoRemove and keys that still have other subkeys). Variables written
// as %name% are replaced from a VariableTable before parsing.
#pragma once
#include <cstddef>

#include "module/key_handle.h"
#include "module/variable_table.h"

namespace vz {

class CRegistryScript {
public:
    static constexpr std::size_t kTokenUnits = 4096;
    static constexpr std::size_t kKeyNameUnits = 260;
    static constexpr std::size_t kMaxVariableNameUnits = 31;
    // Blocks nest at most this deep, which keeps the per-level buffers of a
    // recursive walk within a thread's stack; deeper text is rejected as a
    // syntax error. The registry itself allows no deeper key paths.
    static constexpr int kMaxBlockDepth = 512;

    explicit CRegistryScript(const VariableTable& variables) noexcept;

    // Runs a NUL-terminated script in register mode (true) or unregister mode.
    HRESULT Run(const WCHAR* script, bool registerMode);

private:
    HRESULT ExpandVariables(const WCHAR* script, WCHAR** text);
    HRESULT ReadToken(WCHAR* buffer);
    void SkipBlanks();
    HRESULT ProcessSection(WCHAR* token, plat::HKEY parent, bool registerMode, bool skipping);
    HRESULT RegisterSection(WCHAR* token, plat::HKEY parent);
    HRESULT UnregisterSection(WCHAR* token, plat::HKEY parent, bool skipping);
    HRESULT RegisterValueEntry(WCHAR* token, plat::HKEY parent);
    HRESULT UnregisterValueEntry(WCHAR* token, plat::HKEY parent, bool removeValue);
    HRESULT WriteValue(CKeyHandle& key, const WCHAR* name, WCHAR* token);
    HRESULT SkipValueSpec(WCHAR* token);

    const WCHAR* position_ = nullptr;
    const VariableTable& variables_;
    int depth_ = 0;
};

}  // namespace vz
