// Shared set-up of the registration tests: a seeded perflib, a fixed library
// path and locale, and checks of a complete registration.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "common/perflib_seed.h"
#include "platform/emulated/emulated_control.h"
#include "platform/platform.h"
#include "registration/registration_driver.h"

namespace vz {
namespace test {

extern const char16_t kLibraryPath[];
extern const char16_t kLanguage009[];
extern const char16_t kLanguage010[];

// Sections of .reg text (without the file's header) applied to the registry.
void Apply(const std::string& regText);

inline HRESULT Register() { return RegisterAllPerfObjects(plat::ThisModule()); }
inline HRESULT Unregister() { return UnregisterAllPerfObjects(); }

class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override { Seed(PerflibSeed{}); }
    void TearDown() override {
        emu::ClearFaults();
        emu::SetModuleFileName(u"");
    }
    // Seeds perflib plus keys that no registration may touch.
    void Seed(const PerflibSeed& seed);
    // Everything outside the registration's footprint, as exported text.
    static std::string Untouched();
    // The performance key is complete, "Languages" is `languages`, the list
    // pair of that language (009 or 010) holds the seeded pairs outside the
    // object's ranges plus the object's pairs once, as one run in index order,
    // and the other language's lists are as seeded (both with no language).
    void ExpectCompleteRegistration(const std::u16string& languages = u"009 ");
    // The perflib pair lists as seeded.
    std::u16string seededCounter009, seededHelp009, seededCounter010, seededHelp010;
    std::string seededUntouched;
};

}  // namespace test
}  // namespace vz
