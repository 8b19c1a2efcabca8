#include "reader/title_names.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/registry_key.h"
#include "support/registry_paths.h"
#include "support/wide_string.h"

namespace qvperf {

namespace {

namespace plat = vz::plat;

// The value's characters; empty when missing or not a multi-string.
std::u16string ReadMultiString(plat::HKEY key, const char16_t* name) {
    vz::DWORD type = 0, size = 0;
    if (plat::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != 0 ||
        type != plat::REG_MULTI_SZ)
        return {};
    std::vector<vz::BYTE> data(size + 2);
    if (plat::RegQueryValueExW(key, name, nullptr, &type, data.data(), &size) != 0) return {};
    std::u16string text(size / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    return text;
}

}  // namespace

std::map<std::uint32_t, std::string> TitleNames::ParsePairs(const std::u16string& raw) {
    std::map<std::uint32_t, std::string> pairs;
    std::size_t pos = 0;
    auto next = [&](std::u16string* out) {
        if (pos >= raw.size()) return false;
        std::size_t end = raw.find(u'\0', pos);
        if (end == std::u16string::npos) end = raw.size();
        *out = raw.substr(pos, end - pos);
        pos = end + 1;
        return !out->empty();
    };
    std::u16string index, text;
    while (next(&index) && next(&text)) {
        std::uint64_t number = 0;
        std::size_t i = 0;
        while (i < index.size() && index[i] == u' ') ++i;
        bool digits = false;
        for (; i < index.size() && index[i] >= u'0' && index[i] <= u'9'; ++i) {
            number = number * 10 + (index[i] - u'0');
            if (number > 0xFFFFFFFFu) break;
            digits = true;
        }
        if (digits && number <= 0xFFFFFFFFu)
            pairs[static_cast<std::uint32_t>(number)] = vz::Utf16ToUtf8(text);
    }
    return pairs;
}

bool TitleNames::Load(const std::string& language) {
    const std::u16string code = vz::Utf8ToUtf16(language);
    const std::u16string path = vz::PerflibLanguageKeyPath(code.data(), code.size()).ToU16();
    vz::CKeyHandle key;
    if (key.Open(plat::HKeyLocalMachine(), path.c_str(), plat::KEY_READ) != 0) return false;
    names_ = ParsePairs(ReadMultiString(key.Get(), u"Counter"));
    helps_ = ParsePairs(ReadMultiString(key.Get(), u"Help"));
    return true;
}

std::string TitleNames::Name(std::uint32_t index) const {
    auto it = names_.find(index);
    return it != names_.end() ? it->second : std::to_string(index);
}

std::string TitleNames::Help(std::uint32_t index) const {
    auto it = helps_.find(index);
    return it != helps_.end() ? it->second : std::string();
}

std::string TitleNames::LoadForLanguage(const std::string& language) {
    if (!language.empty())
        return Load(language) ? std::string()
                              : "no perflib texts for language " + language +
                                    " (--lang); showing index numbers";
    char code[8];
    std::snprintf(code, sizeof code, "%03x", vz::plat::GetSystemDefaultLangID() & 0x3FFu);
    if (Load(code)) return {};
    if (std::strcmp(code, "009") != 0 && Load("009")) return {};
    return std::string("no perflib texts for the system's language ") + code +
           (std::strcmp(code, "009") != 0 ? " nor for 009" : "") + "; showing index numbers";
}

}  // namespace qvperf
