// Registry contents as regedit's text. Export writes "Windows Registry Editor
// Version 5.00" in UTF-8; files are read in both forms regedit writes,
// REGEDIT4 (ANSI text, string types given as hex in ANSI bytes) and version
// 5.00, in UTF-8 or UTF-16LE with its byte-order mark. A file is read whole or
// not at all: the first line that does not parse, a cut file or an unknown
// encoding is reported with its line.
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

#include <unistd.h>

#include "platform/emulated/emulated_control.h"
#include "platform/emulated/registry_tree.h"
#include "support/hresult.h"
#include "support/utf_text.h"
#include "support/wide_string.h"

namespace vz {
namespace emu {
namespace detail {
namespace {

const char kHeader[] = "Windows Registry Editor Version 5.00";
const char kHeader4[] = "REGEDIT4";
constexpr DWORD kAnsiCodePage = 1252;  // the emulated system's ANSI code page

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

// Logical lines: physical lines joined where a hex list ends in '\'.
class LineReader {
public:
    explicit LineReader(const std::string& text) : text_(text) {}
    // The next logical line and the number of the physical line it starts on;
    // *cut when the text ends inside a continued value.
    bool Next(std::string* line, std::size_t* number, bool* cut) {
        line->clear();
        *cut = false;
        if (at_ >= text_.size()) return false;
        *number = physical_ + 1;
        for (;;) {
            if (at_ >= text_.size()) return *cut = true;
            const std::size_t end = text_.find('\n', at_);
            std::string part = text_.substr(at_, end == std::string::npos ? std::string::npos : end - at_);
            at_ = end == std::string::npos ? text_.size() : end + 1;
            ++physical_;
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
    }

private:
    const std::string& text_;
    std::size_t at_ = 0;
    std::size_t physical_ = 0;
};

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

// REGEDIT4 writes the string types given as hex bytes in the ANSI code page.
bool WidenAnsi(RegValue* value) {
    if (value->type != plat::REG_SZ && value->type != plat::REG_EXPAND_SZ &&
        value->type != plat::REG_MULTI_SZ)
        return true;
    if (value->data.empty()) return true;
    const int length = static_cast<int>(value->data.size());
    std::u16string wide(static_cast<std::size_t>(length), u'\0');
    const char* bytes = reinterpret_cast<const char*>(value->data.data());
    if (plat::MultiByteToWideChar(kAnsiCodePage, 0, bytes, length, &wide[0], length) != length)
        return false;
    value->data.assign(reinterpret_cast<const BYTE*>(wide.data()),
                       reinterpret_cast<const BYTE*>(wide.data()) + wide.size() * 2);
    return true;
}

bool ParseValueData(const std::string& text, bool ansi, RegValue* value) {
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
        return ParseHexBytes(text.substr(close + 2), &value->data) && (!ansi || WidenAnsi(value));
    }
    return false;
}

// The lines of a registry file as they follow its header.
bool ParseLines(const std::string& text, bool ansi, std::string* error) {
    LineReader reader(text);
    std::string line;
    RegKey* current = nullptr;
    std::size_t number = 0;
    bool cut = false, first = true;
    auto fail = [&](const std::string& why) {
        if (error != nullptr) *error = "line " + std::to_string(number) + ": " + why;
        return false;
    };
    while (reader.Next(&line, &number, &cut)) {
        if (cut) return fail("the file ends inside this value, continued with '\\' (truncated)");
        if (first) {
            first = false;
            if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
            const std::string header = line.substr(0, line.find_last_not_of(" \t") + 1);
            if (header == kHeader || header == kHeader4) continue;
        }
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == ';') continue;
        line.erase(0, start);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
        if (line[0] == '[') {
            if (line.back() != ']') return fail("a key name without its closing ']'");
            std::string path = line.substr(1, line.size() - 2);
            if (!path.empty() && path[0] == '-') {
                current = nullptr;
                if (RegKey* key = KeyByPath(path.substr(1), false))
                    if (key->parent != nullptr) DeleteTreeLocked(key);
                continue;
            }
            current = KeyByPath(path, true);
            if (current == nullptr) return fail("unknown root key in [" + path + "]");
            continue;
        }
        if (current == nullptr) return fail("a value before any [key] line");
        std::u16string name;
        std::size_t at = 0;
        if (line[0] == '@') {
            at = 1;
        } else {
            std::string quoted;
            if (!ReadQuoted(line, &at, &quoted))
                return fail("neither a [key], a \"name\"=value, @=value nor a ; comment");
            name = Utf8ToUtf16(quoted);
        }
        if (at >= line.size() || line[at] != '=') return fail("no '=' after the value name");
        const std::string data = line.substr(at + 1);
        if (data == "-") {
            current->RemoveValue(name);
            continue;
        }
        RegValue value;
        value.name = name;
        if (!ParseValueData(data, ansi, &value))
            return fail("value data not understood (\"text\", dword:, hex: or hex(type): expected)");
        if (RegValue* existing = current->FindValue(name)) {
            existing->type = value.type;
            existing->data = std::move(value.data);
        } else {
            current->values.push_back(std::move(value));
        }
    }
    return true;
}

std::string LineError(std::size_t line, const std::string& why) {
    return "line " + std::to_string(line) + ": " + why;
}

std::size_t LineOf(const std::string& text, std::size_t offset) {
    return 1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + offset, '\n'));
}

// UTF-16LE units (after the byte-order mark) as UTF-8; false on an unpaired
// surrogate, with its line.
bool Utf16LeToUtf8(const std::string& bytes, std::string* text, std::string* error) {
    std::u16string units;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    std::size_t lines = 1;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t c = units[i];
        if (c == u'\n') ++lines;
        const bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            ++i;
        } else if (high || low || c == 0) {
            *error = LineError(lines, c == 0 ? "a NUL character in the text" : "not UTF-16LE text (an unpaired surrogate)");
            return false;
        }
    }
    *text = Utf16ToUtf8(units);
    return true;
}

// A registry file's bytes as UTF-8 text, its header checked. *ansi for
// REGEDIT4, whose single-byte text is in the ANSI code page.
bool DecodeRegFile(const std::string& bytes, std::string* text, bool* ansi, std::string* error) {
    auto startsWith = [&](const char* mark, std::size_t size) { return bytes.compare(0, size, mark, size) == 0; };
    if (bytes.empty()) {
        *error = LineError(1, "the file is empty (truncated): a registry file starts with REGEDIT4 or " +
                                  std::string(kHeader));
        return false;
    }
    const char* otherMark = startsWith("\xFF\xFE\0\0", 4)   ? "UTF-32LE"
                            : startsWith("\0\0\xFE\xFF", 4) ? "UTF-32BE"
                            : startsWith("\xFE\xFF", 2)     ? "UTF-16BE"
                                                            : nullptr;
    if (otherMark != nullptr) {
        *error = LineError(1, std::string("unknown encoding: a ") + otherMark +
                                  " byte-order mark (registry files are UTF-8, or UTF-16LE with its mark)");
        return false;
    }
    const bool utf16 = startsWith("\xFF\xFE", 2);
    if (utf16) {
        if (!Utf16LeToUtf8(bytes, text, error)) return false;
        if (bytes.size() % 2 != 0) {
            *error = LineError(LineOf(*text, text->size()), "truncated: an odd number of bytes in UTF-16LE text");
            return false;
        }
    } else {
        const std::size_t nul = bytes.find('\0');
        if (nul != std::string::npos) {
            *error = LineError(LineOf(bytes, nul),
                               "unknown encoding: a NUL byte (UTF-16 text without its byte-order mark?)");
            return false;
        }
        *text = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
    }
    std::string header = text->substr(0, text->find('\n'));
    while (!header.empty() && (header.back() == '\r' || header.back() == ' ' || header.back() == '\t'))
        header.pop_back();
    *ansi = header == kHeader4;
    if (!*ansi && header != kHeader) {
        *error = LineError(1, "not a registry file: the first line is neither REGEDIT4 nor " +
                                  std::string(kHeader));
        return false;
    }
    if (text->back() != '\n') {
        *error = LineError(LineOf(*text, text->size()), "truncated: the file ends inside this line");
        return false;
    }
    if (*ansi && !utf16) {
        std::u16string wide(text->size(), u'\0');
        plat::MultiByteToWideChar(kAnsiCodePage, 0, text->data(), static_cast<int>(text->size()), &wide[0],
                                  static_cast<int>(wide.size()));
        *text = Utf16ToUtf8(wide);
        return true;
    }
    for (std::size_t at = 0, line = 1; at < text->size(); ++line) {
        const std::size_t end = std::min(text->find('\n', at), text->size());
        std::u16string ignored;
        if (!DecodeUtf8(reinterpret_cast<const unsigned char*>(text->data() + at), end - at, &ignored)) {
            *error = LineError(line, "unknown encoding: not UTF-8 text");
            return false;
        }
        at = end + 1;
    }
    *ansi = *ansi && !utf16;
    return true;
}

}  // namespace

std::string ExportAllLocked() {
    std::string out = std::string(kHeader) + "\n\n";
    for (const char* root : {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS",
                             "HKEY_CURRENT_CONFIG"}) {
        std::shared_ptr<RegKey> key = RootByName(Utf8ToUtf16(root));
        if (!key->subkeys.empty() || !key->values.empty()) ExportKey(key.get(), root, &out);
    }
    return out;
}

bool ImportLocked(const std::string& text, std::string* error) { return ParseLines(text, false, error); }

bool ImportFileLocked(const std::string& bytes, std::string* error) {
    std::string text, ignored;
    bool ansi = false;
    return DecodeRegFile(bytes, &text, &ansi, error != nullptr ? error : &ignored) &&
           ParseLines(text, ansi, error);
}

}  // namespace detail

bool ImportRegText(const std::string& text, std::string* error) {
    std::lock_guard<std::mutex> lock(detail::RegistryMutex());
    if (detail::LockFileLocked() != ERROR_SUCCESS) return false;
    bool imported = false;
    if (detail::RefreshLocked() == ERROR_SUCCESS) {
        imported = detail::ImportLocked(text, error);
        imported = detail::CommitLocked() == ERROR_SUCCESS && imported;
    }
    detail::UnlockFileLocked();
    return imported;
}

std::string ExportRegText(const std::string& keyPath) {
    std::lock_guard<std::mutex> lock(detail::RegistryMutex());
    detail::RefreshLocked();
    const detail::RegKey* key = detail::KeyByPath(keyPath, false);
    if (key == nullptr) return {};
    std::string out = std::string(detail::kHeader) + "\n\n";
    detail::ExportKey(key, detail::KeyPath(key), &out);
    return out;
}

bool LoadRegistryFile(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error != nullptr) *error = "cannot open the file";
        return false;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    std::lock_guard<std::mutex> lock(detail::RegistryMutex());
    detail::RefreshLocked();
    detail::ClearLocked();
    return detail::ImportFileLocked(bytes.str(), error);
}

bool SaveRegistryFile(const std::string& path) {
    std::string text;
    {
        std::lock_guard<std::mutex> lock(detail::RegistryMutex());
        text = detail::ExportAllLocked();
    }
    const int fd = detail::ReplaceFile(path, text, nullptr);
    if (fd < 0) return false;
    close(fd);
    return true;
}

}  // namespace emu
}  // namespace vz
