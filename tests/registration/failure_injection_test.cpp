// Every registry call of a registration and of an unregistration is made to
// fail in turn: the result must be that call's error (or success where the
// call's result does not matter), nothing outside the footprint may change,
// every key must be closed, and running the operation again must repair it.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <vector>

#include "registration_fixture.h"

namespace vz {
namespace test {
namespace {

const HRESULT kInjectedResult = HResultFromWin32(ERROR_ACCESS_DENIED);

bool Among(const std::string& call, const std::vector<std::string>& calls) {
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

TEST_F(RegistrationTest, EachFailingCallIsReportedAndRepairedByARun) {
    const struct {
        bool registering;
        std::vector<std::string> reported;  // calls whose failure must be returned
        std::vector<std::string> ignored;   // calls whose failure must not be
    } operations[] = {
        {true, {"RegSetValueExW", "RegCreateKeyExW", "RegQueryValueExW"}, {"RegCloseKey", "RegDeleteValueW"}},
        {false, {"RegSetValueExW", "RegQueryValueExW", "RegOpenKeyExW", "RegDeleteKeyW", "RegDeleteKeyExW"},
         {"RegCloseKey"}},
    };
    for (const auto& operation : operations) {
        HRESULT (*const run)() = operation.registering ? &Register : &Unregister;
        auto prepare = [&] {
            Seed(PerflibSeed{});
            if (!operation.registering) {
                ASSERT_EQ(Register(), S_OK);
            }
            emu::ResetCallCounts();
        };
        prepare();
        ASSERT_EQ(run(), S_OK);
        const std::string clean = emu::ExportRegText(kHklmExportPath);
        std::vector<std::string> calls;
        std::istringstream log(emu::RegistryCallLog());
        for (std::string line; std::getline(log, line);) calls.push_back(line);
        ASSERT_GT(calls.size(), 10u);
        for (std::size_t k = 1; k <= calls.size(); ++k) {
            const std::string& call = calls[k - 1];
            SCOPED_TRACE((operation.registering ? "register, call " : "unregister, call ") + std::to_string(k) + ": " + call);
            prepare();
            emu::FailCall("*", k, ERROR_ACCESS_DENIED);
            const HRESULT hr = run();
            emu::ClearFaults();
            if (Among(call, operation.reported)) {
                EXPECT_EQ(hr, kInjectedResult);
            } else if (Among(call, operation.ignored)) {
                EXPECT_EQ(hr, S_OK);
            } else {
                EXPECT_TRUE(hr == S_OK || hr == kInjectedResult) << std::hex << hr;
            }
            EXPECT_EQ(Untouched(), seededUntouched);
            EXPECT_EQ(ReadChars(kLanguage010, u"Counter"), seededCounter010);
            if (call != "RegCloseKey") {
                EXPECT_EQ(emu::OpenKeyCount(), 0u);
            }

            ASSERT_EQ(run(), S_OK);
            if (operation.registering) {
                ExpectCompleteRegistration(kLanguage009, seededCounter009, seededHelp009);
            } else {
                EXPECT_EQ(emu::ExportRegText(kHklmExportPath), clean);
            }
            if (HasFailure()) return;  // one broken step is enough to read
        }
    }
}

}  // namespace
}  // namespace test
}  // namespace vz
