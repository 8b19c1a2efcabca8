// Perflib's title texts for one language: the "Counter" and "Help" pair lists
// of HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Perflib\<lang>.
#pragma once
#include <cstdint>
#include <map>
#include <string>

namespace qvperf {

class TitleNames {
public:
    // `language` as the key names it, e.g. "009". False when the key is missing.
    [[nodiscard]] bool Load(const std::string& language);
    // The texts of `language` when given, else of the system's language, else
    // of 009. Returns a warning when none of them could be loaded.
    std::string LoadForLanguage(const std::string& language);
    // Parses a raw REG_MULTI_SZ pair list (index, text, index, text, ..., "").
    static std::map<std::uint32_t, std::string> ParsePairs(const std::u16string& raw);

    // The text, or the index number when there is none.
    std::string Name(std::uint32_t index) const;
    std::string Help(std::uint32_t index) const;

private:
    std::map<std::uint32_t, std::string> names_;
    std::map<std::uint32_t, std::string> helps_;
};

}  // namespace qvperf
