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

// Which walk a block goes through.
enum class ScriptMode { Register, Unregister };
// In an unregister walk, a block under a key that could not be opened is only
// read (Skip): nothing in it can be removed.
enum class BlockAction { Apply, Skip };

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
    [[nodiscard]] HRESULT Run(const WCHAR* script, bool registerMode);

private:
    [[nodiscard]] HRESULT ExpandVariables(const WCHAR* script, WCHAR** text);
    [[nodiscard]] HRESULT ReadToken(WCHAR* buffer);
    void SkipBlanks();
    [[nodiscard]] HRESULT ProcessSection(WCHAR* token, plat::HKEY parent, ScriptMode mode, BlockAction action);
    [[nodiscard]] HRESULT RegisterSection(WCHAR* token, plat::HKEY parent);
    [[nodiscard]] HRESULT UnregisterSection(WCHAR* token, plat::HKEY parent, BlockAction action);
    [[nodiscard]] HRESULT RegisterValueEntry(WCHAR* token, plat::HKEY parent);
    [[nodiscard]] HRESULT UnregisterValueEntry(WCHAR* token, plat::HKEY parent, bool removeValue);
    [[nodiscard]] HRESULT WriteValue(CKeyHandle& key, const WCHAR* name, WCHAR* token);
    [[nodiscard]] HRESULT SkipValueSpec(WCHAR* token);

    const WCHAR* position_ = nullptr;
    const VariableTable& variables_;
    int depth_ = 0;
};

}  // namespace vz
