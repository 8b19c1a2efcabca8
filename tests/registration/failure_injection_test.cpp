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

const LONG kInjected = 5;  // ERROR_ACCESS_DENIED
const HRESULT kInjectedResult = static_cast<HRESULT>(0x80070005u);

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Calls whose failure an operation must report, and calls whose failure it
// rides over; any other call may go either way.
bool MustFail(const std::string& call, const std::vector<std::string>& reported) {
    return std::find(reported.begin(), reported.end(), call) != reported.end();
}

TEST_F(RegistrationTest, EachFailingCallOfARegistrationIsReportedAndRepairable) {
    ASSERT_EQ(Register(), S_OK);
    const std::vector<std::string> calls = Lines(emu::RegistryCallLog());
    ASSERT_GT(calls.size(), 20u);
    for (std::size_t k = 1; k <= calls.size(); ++k) {
        const std::string& call = calls[k - 1];
        SCOPED_TRACE("call " + std::to_string(k) + ": " + call);
        Seed(PerflibSeed{});
        emu::FailCall("*", k, kInjected);
        HRESULT hr = Register();
        emu::ClearFaults();
        if (MustFail(call, {"RegSetValueExW", "RegCreateKeyExW", "RegQueryValueExW"})) {
            EXPECT_EQ(hr, kInjectedResult);
        } else if (MustFail(call, {"RegCloseKey", "RegDeleteValueW"})) {
            EXPECT_EQ(hr, S_OK);
        } else {
            EXPECT_TRUE(hr == S_OK || hr == kInjectedResult) << std::hex << hr;
        }
        EXPECT_EQ(Untouched(), seededUntouched);
        EXPECT_EQ(ReadChars(kLanguage010, u"Counter"), seededCounter010);
        if (call != "RegCloseKey") {
            EXPECT_EQ(emu::OpenKeyCount(), 0u);
        }

        ASSERT_EQ(Register(), S_OK);
        ExpectCompleteRegistration(kLanguage009, seededCounter009, seededHelp009);
        if (HasFailure()) return;  // one broken step is enough to read
    }
}

TEST_F(RegistrationTest, EachFailingCallOfAnUnregistrationIsReportedAndRepairable) {
    ASSERT_EQ(Register(), S_OK);
    emu::ResetCallCounts();
    ASSERT_EQ(Unregister(), S_OK);
    const std::string clean = emu::ExportRegText(kHklmExportPath);
    const std::vector<std::string> calls = Lines(emu::RegistryCallLog());
    ASSERT_GT(calls.size(), 10u);
    for (std::size_t k = 1; k <= calls.size(); ++k) {
        const std::string& call = calls[k - 1];
        SCOPED_TRACE("call " + std::to_string(k) + ": " + call);
        Seed(PerflibSeed{});
        ASSERT_EQ(Register(), S_OK);
        emu::FailCall("*", k, kInjected);
        HRESULT hr = Unregister();
        emu::ClearFaults();
        if (MustFail(call, {"RegSetValueExW", "RegQueryValueExW", "RegOpenKeyExW",
                            "RegDeleteKeyW", "RegDeleteKeyExW"})) {
            EXPECT_EQ(hr, kInjectedResult);
        } else if (MustFail(call, {"RegCloseKey"})) {
            EXPECT_EQ(hr, S_OK);
        } else {
            EXPECT_TRUE(hr == S_OK || hr == kInjectedResult) << std::hex << hr;
        }
        EXPECT_EQ(Untouched(), seededUntouched);
        if (call != "RegCloseKey") {
            EXPECT_EQ(emu::OpenKeyCount(), 0u);
        }

        ASSERT_EQ(Unregister(), S_OK);
        EXPECT_EQ(emu::ExportRegText(kHklmExportPath), clean);
        if (HasFailure()) return;
    }
}

}  // namespace
}  // namespace test
}  // namespace vz
