// Registry contents as regedit's "Windows Registry Editor Version 5.00" text,
// in UTF-8, and its persistence in the file that VUDOZID_REGISTRY names.
//
// Export writes one section per key, keys depth first and values sorted by
// case-folded name (the default value "@" first). A REG_SZ is written as a
// quoted string only when its bytes are exactly a terminated string without
// control characters; a REG_DWORD as dword: only when it has four bytes; every
// other value as hex(t): bytes, so an import restores the exact bytes.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/emulated/emulated_control.h"
#include "platform/emulated/registry_tree.h"
#include "support/wide_string.h"

namespace vz {
namespace emu {
namespace detail {
namespace {

const char kHeader[] = "Windows Registry Editor Version 5.00";

std::string Quote(const std::u16string& text) {
    std::string out = "\"";
    for (char c : Utf16ToUtf8(text)) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

bool PrintableString(const RegValue& value, std::u16string* text) {
    const std::vector<BYTE>& d = value.data;
    if (d.size() < 2 || d.size() % 2 != 0) return false;
    text->clear();
    for (std::size_t i = 0; i + 2 < d.size(); i += 2) {
        const char16_t c = static_cast<char16_t>(d[i] | (d[i + 1] << 8));
        if (c < 0x20) return false;
        if (c >= 0xD800 && c <= 0xDFFF) return false;  // keep exact bytes of odd surrogates
        text->push_back(c);
    }
    return d[d.size() - 2] == 0 && d[d.size() - 1] == 0;
}

std::string ValueText(const RegValue& value) {
    char buffer[16];
    std::u16string text;
    if (value.type == plat::REG_SZ && PrintableString(value, &text)) return Quote(text);
    if (value.type == plat::REG_DWORD && value.data.size() == 4) {
        const DWORD v = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                        (static_cast<DWORD>(value.data[3]) << 24);
        std::snprintf(buffer, sizeof buffer, "%08x", v);
        return std::string("dword:") + buffer;
    }
    std::string out;
    if (value.type == plat::REG_BINARY) {
        out = "hex:";
    } else {
        std::snprintf(buffer, sizeof buffer, "hex(%x):", value.type);
        out = buffer;
    }
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, i == 0 ? "%02x" : ",%02x", value.data[i]);
        out += buffer;
    }
    return out;
}

void ExportKey(const RegKey* key, const std::string& path, std::string* out) {
    *out += "[" + path + "]\n";
    std::vector<const RegValue*> values;
    for (const RegValue& v : key->values) values.push_back(&v);
    std::sort(values.begin(), values.end(), [](const RegValue* a, const RegValue* b) {
        const int c = CompareFolded(a->name, b->name);
        return c != 0 ? c < 0 : a->name < b->name;
    });
    for (const RegValue* v : values)
        *out += (v->name.empty() ? std::string("@") : Quote(v->name)) + "=" + ValueText(*v) + "\n";
    *out += "\n";
    for (const auto& child : key->subkeys) ExportKey(child.get(), path + "\\" + Utf16ToUtf8(child->name), out);
}

std::string KeyPathOf(const RegKey* key) {
    std::string path;
    for (; key->parent != nullptr; key = key->parent) path = "\\" + Utf16ToUtf8(key->name) + path;
    return RootName(key) + path;
}

// One logical line: physical lines joined where a hex list ends in '\'.
bool NextLine(std::istringstream& in, std::string* line) {
    line->clear();
    std::string part;
    bool any = false;
    while (std::getline(in, part)) {
        any = true;
        if (!part.empty() && part.back() == '\r') part.pop_back();
        if (!line->empty()) part.erase(0, part.find_first_not_of(" \t"));
        if (!part.empty() && part.back() == '\\' && (*line + part).find("=hex") != std::string::npos) {
            part.pop_back();
            *line += part;
            continue;
        }
        *line += part;
        return true;
    }
    return any;
}

// Reads a quoted name or string starting at `at`; `at` ends after the quote.
bool ReadQuoted(const std::string& line, std::size_t* at, std::string* text) {
    if (*at >= line.size() || line[*at] != '"') return false;
    text->clear();
    for (std::size_t i = *at + 1; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            text->push_back(line[++i]);
        } else if (line[i] == '"') {
            *at = i + 1;
            return true;
        } else {
            text->push_back(line[i]);
        }
    }
    return false;
}

bool ParseHexBytes(const std::string& text, std::vector<BYTE>* bytes) {
    bytes->clear();
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == '\t') continue;
        if (c == ',') {
            if (digits.empty()) return false;
            bytes->push_back(static_cast<BYTE>(std::strtoul(digits.c_str(), nullptr, 16)));
            digits.clear();
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c)) || digits.size() == 2) return false;
        digits += c;
    }
    if (!digits.empty()) bytes->push_back(static_cast<BYTE>(std::strtoul(digits.c_str(), nullptr, 16)));
    return true;
}

bool ParseValueData(const std::string& text, RegValue* value) {
    if (!text.empty() && text[0] == '"') {
        std::size_t at = 0;
        std::string s;
        if (!ReadQuoted(text, &at, &s) || at != text.size()) return false;
        const std::u16string wide = Utf8ToUtf16(s);
        value->type = plat::REG_SZ;
        value->data.assign(reinterpret_cast<const BYTE*>(wide.c_str()),
                           reinterpret_cast<const BYTE*>(wide.c_str()) + (wide.size() + 1) * 2);
        return true;
    }
    if (text.compare(0, 6, "dword:") == 0) {
        const std::string digits = text.substr(6);
        if (digits.empty() || digits.size() > 8 ||
            digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return false;
        const DWORD v = static_cast<DWORD>(std::strtoul(digits.c_str(), nullptr, 16));
        value->type = plat::REG_DWORD;
        value->data = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16),
                       static_cast<BYTE>(v >> 24)};
        return true;
    }
    if (text.compare(0, 4, "hex:") == 0) {
        value->type = plat::REG_BINARY;
        return ParseHexBytes(text.substr(4), &value->data);
    }
    if (text.compare(0, 4, "hex(") == 0) {
        const std::size_t close = text.find("):");
        if (close == std::string::npos || close == 4) return false;
        const std::string type = text.substr(4, close - 4);
        if (type.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos || type.size() > 8)
            return false;
        value->type = static_cast<DWORD>(std::strtoul(type.c_str(), nullptr, 16));
        return ParseHexBytes(text.substr(close + 2), &value->data);
    }
    return false;
}

RegKey* CreatePath(const std::string& path) {
    std::vector<std::u16string> parts = SplitPath(Utf8ToUtf16(path));
    if (parts.empty()) return nullptr;
    std::shared_ptr<RegKey> root = RootByName(parts.front());
    if (!root) return nullptr;
    RegKey* key = root.get();
    for (std::size_t i = 1; i < parts.size(); ++i) {
        RegKey* next = key->FindSubkey(parts[i]);
        key = next != nullptr ? next : key->AddSubkey(parts[i]);
    }
    return key;
}

bool g_environmentLoaded = false;
std::string g_environmentFile;

std::string ExportAllLocked() {
    std::string out = std::string(kHeader) + "\n\n";
    for (const char* root : {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS",
                             "HKEY_CURRENT_CONFIG"}) {
        std::shared_ptr<RegKey> key = RootByName(Utf8ToUtf16(root));
        if (!key->subkeys.empty() || !key->values.empty()) ExportKey(key.get(), root, &out);
    }
    return out;
}

// Writes beside the target and renames, so a reader never sees half a file.
bool WriteFileAtomically(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << text;
        if (!out.flush()) return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

void WriteBackLocked() {
    if (!g_environmentFile.empty()) WriteFileAtomically(g_environmentFile, ExportAllLocked());
}

bool ImportLocked(const std::string& text, std::string* error) {
    std::istringstream in(text);
    std::string line;
    RegKey* current = nullptr;
    std::size_t number = 0;
    auto fail = [&](const std::string& why) {
        if (error != nullptr) *error = "line " + std::to_string(number) + ": " + why;
        return false;
    };
    bool first = true;
    while (NextLine(in, &line)) {
        ++number;
        if (first) {
            first = false;
            if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
            if (line == kHeader || line == "REGEDIT4") continue;
        }
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == ';') continue;
        line.erase(0, start);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
        if (line[0] == '[') {
            if (line.back() != ']') return fail("unterminated key name");
            std::string path = line.substr(1, line.size() - 2);
            if (!path.empty() && path[0] == '-') {
                current = nullptr;
                if (RegKey* key = FindKeyByPath(path.substr(1)))
                    if (key->parent != nullptr) DeleteTreeLocked(key);
                continue;
            }
            current = CreatePath(path);
            if (current == nullptr) return fail("unknown root key");
            continue;
        }
        if (current == nullptr) return fail("value outside a key");
        std::u16string name;
        std::size_t at = 0;
        if (line[0] == '@') {
            at = 1;
        } else {
            std::string quoted;
            if (!ReadQuoted(line, &at, &quoted)) return fail("bad value name");
            name = Utf8ToUtf16(quoted);
        }
        if (at >= line.size() || line[at] != '=') return fail("missing '='");
        const std::string data = line.substr(at + 1);
        if (data == "-") {
            current->RemoveValue(name);
            continue;
        }
        RegValue value;
        value.name = name;
        if (!ParseValueData(data, &value)) return fail("bad value data");
        if (RegValue* existing = current->FindValue(name)) {
            existing->type = value.type;
            existing->data = std::move(value.data);
        } else {
            current->values.push_back(std::move(value));
        }
    }
    return true;
}

void EnsureEnvironmentLoadedLocked() {
    if (g_environmentLoaded) return;
    g_environmentLoaded = true;
    const char* file = std::getenv("VUDOZID_REGISTRY");
    if (file == nullptr || *file == '\0') return;
    g_environmentFile = file;
    std::ifstream in(g_environmentFile, std::ios::binary);
    if (in) {
        std::ostringstream text;
        text << in.rdbuf();
        ImportLocked(text.str(), nullptr);
    }
}

}  // namespace detail

bool ImportRegText(const std::string& text, std::string* error) {
    std::lock_guard<std::mutex> lock(detail::RegistryMutex());
    detail::EnsureEnvironmentLoadedLocked();
    const bool imported = detail::ImportLocked(text, error);
    detail::WriteBackLocked();
    return imported;
}

std::string ExportRegText(const std::string& keyPath) {
    std::lock_guard<std::mutex> lock(detail::RegistryMutex());
    detail::EnsureEnvironmentLoadedLocked();
    const detail::RegKey* key = detail::FindKeyByPath(keyPath);
    if (key == nullptr) return {};
    std::string out = std::string(detail::kHeader) + "\n\n";
    detail::ExportKey(key, detail::KeyPathOf(key), &out);
    return out;
}

bool LoadRegistryFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    std::lock_guard<std::mutex> lock(detail::RegistryMutex());
    detail::EnsureEnvironmentLoadedLocked();
    detail::ClearLocked();
    return detail::ImportLocked(text.str(), nullptr);
}

bool SaveRegistryFile(const std::string& path) {
    std::string text;
    {
        std::lock_guard<std::mutex> lock(detail::RegistryMutex());
        text = detail::ExportAllLocked();
    }
    return detail::WriteFileAtomically(path, text);
}

}  // namespace emu
}  // namespace vz
