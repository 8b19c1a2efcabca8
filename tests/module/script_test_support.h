// Helpers of the module tests: running a script text against the emulated
// registry and reading the result back as exported text.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "module/registry_script.h"
#include "platform/emulated/emulated_control.h"
#include "support/allocation.h"

namespace vz {
namespace test {

inline HRESULT RunScript(const std::u16string& text, bool registerMode,
                         const VariableTable* variables = nullptr) {
    static const VariableTable kNoVariables;
    CRegistryScript script(variables != nullptr ? *variables : kNoVariables);
    return script.Run(text.c_str(), registerMode);
}

inline const char kRegHeader[] = "Windows Registry Editor Version 5.00\n\n";

// The registry reset to `regText` (sections only, the header is added).
inline void SeedRegistry(const std::string& regText) {
    emu::ResetRegistry();
    std::string error;
    ASSERT_TRUE(emu::ImportRegText(kRegHeader + regText, &error)) << error;
    emu::ClearFaults();
    emu::ResetCallCounts();
}

// The export of `keyPath` without the header; empty when the key is missing.
inline std::string Tree(const std::string& keyPath) {
    std::string text = emu::ExportRegText(keyPath);
    if (text.empty()) return text;
    return text.substr(sizeof(kRegHeader) - 1);
}

class ScriptTest : public ::testing::Test {
protected:
    void SetUp() override { SeedRegistry(""); }
    void TearDown() override {
        emu::ClearFaults();
        allocation_hooks::FailAfter(0);
        EXPECT_EQ(emu::OpenKeyCount(), 0u);
    }
};

}  // namespace test
}  // namespace vz
