// Tokenizer and the two walks (register and unregister) of the registry-script
// runner. All levels share the token buffer that Run supplies; each level holds
// one key slot, closed when its block ends.
#include "module/registry_script.h"

#include "module/script_tables.h"
#include "support/compiler.h"

namespace vz {

namespace {

bool IsBlank(WCHAR ch) { return ch == u'\t' || ch == u'\n' || ch == u'\r' || ch == u' '; }

bool SameName(const WCHAR* a, const WCHAR* b) { return plat::lstrcmpiW(a, b) == 0; }

bool IsOpeningBrace(const WCHAR* token) { return token[0] == u'{' && token[1] == 0; }

bool HasBackslash(const WCHAR* text) {
    for (; *text != 0; ++text)
        if (*text == u'\\') return true;
    return false;
}

// A key slot that borrows the parent key for one operation.
class BorrowedKey {
public:
    explicit BorrowedKey(plat::HKEY parent) { handle.Attach(parent); }
    ~BorrowedKey() { handle.Detach(); }
    CKeyHandle handle;
};

}  // namespace

CRegistryScript::CRegistryScript(const VariableTable& variables) noexcept
    : variables_(variables) {}

HRESULT CRegistryScript::Run(const WCHAR* script, bool registerMode) {
    if (script == nullptr) return E_INVALIDARG;
    WCHAR* text = nullptr;
    HRESULT hr = ExpandVariables(script, &text);
    if (Failed(hr)) return hr;

    WCHAR token[kTokenUnits];
    position_ = text;
    depth_ = 0;
    while (*position_ != 0) {
        hr = ReadToken(token);
        if (Failed(hr)) break;
        plat::HKEY root = RootKeyFromName(token);
        if (root == nullptr) {
            hr = DISP_E_EXCEPTION;
            break;
        }
        hr = ReadToken(token);
        if (Failed(hr)) break;
        if (token[0] != u'{') {
            hr = DISP_E_EXCEPTION;
            break;
        }
        if (registerMode) {
            const WCHAR* sectionStart = position_;
            hr = ProcessSection(token, root, ScriptMode::Register, BlockAction::Apply);
            if (Failed(hr)) {
                // Undo what this root section wrote; earlier sections stay.
                position_ = sectionStart;
                static_cast<void>(
                    ProcessSection(token, root, ScriptMode::Unregister, BlockAction::Apply));
                break;
            }
        } else {
            hr = ProcessSection(token, root, ScriptMode::Unregister, BlockAction::Apply);
            if (Failed(hr)) break;
        }
        SkipBlanks();
    }
    plat::CoTaskMemFree(text);
    position_ = nullptr;
    return hr;
}

void CRegistryScript::SkipBlanks() {
    while (IsBlank(*position_)) position_ = plat::CharNextW(position_);
}

HRESULT CRegistryScript::ReadToken(WCHAR* buffer) {
    SkipBlanks();
    if (*position_ == 0) return DISP_E_EXCEPTION;

    std::size_t length = 0;
    // Copies every unit of one character step; the token and its NUL must stay
    // short of the buffer's last unit.
    auto copyStep = [&](const WCHAR* from, const WCHAR* to) {
        const std::size_t units = static_cast<std::size_t>(to - from);
        if (length + units + 1 >= kTokenUnits) return false;
        for (std::size_t i = 0; i < units; ++i) buffer[length++] = from[i];
        return true;
    };

    if (*position_ == u'\'') {
        position_ = plat::CharNextW(position_);
        for (;;) {
            if (*position_ == 0) return DISP_E_EXCEPTION;  // unclosed quote
            const WCHAR* next = plat::CharNextW(position_);
            if (*position_ == u'\'') {
                if (*next != u'\'') {
                    position_ = next;  // the closing quote is consumed
                    break;
                }
                if (!copyStep(position_, position_ + 1)) return DISP_E_EXCEPTION;
                position_ = plat::CharNextW(next);
                continue;
            }
            if (!copyStep(position_, next)) return DISP_E_EXCEPTION;
            position_ = next;
        }
    } else {
        while (*position_ != 0 && !IsBlank(*position_)) {
            const WCHAR* next = plat::CharNextW(position_);
            if (!copyStep(position_, next)) return DISP_E_EXCEPTION;
            position_ = next;
        }
    }
    buffer[length] = 0;
    return S_OK;
}

HRESULT CRegistryScript::ProcessSection(WCHAR* token, plat::HKEY parent, ScriptMode mode,
                                        BlockAction action) {
    if (depth_ >= kMaxBlockDepth) return DISP_E_EXCEPTION;
    ++depth_;
    HRESULT hr = mode == ScriptMode::Register ? RegisterSection(token, parent)
                                              : UnregisterSection(token, parent, action);
    --depth_;
    return hr;
}

HRESULT CRegistryScript::RegisterSection(WCHAR* token, plat::HKEY parent) {
    CKeyHandle keySlot;
    HRESULT hr = ReadToken(token);
    if (Failed(hr)) return hr;
    for (;;) {
        if (token[0] == u'}') {
            keySlot.Close();
            return S_OK;
        }
        const bool isDelete = SameName(token, u"Delete");
        if (isDelete || SameName(token, u"ForceRemove")) {
            hr = ReadToken(token);
            if (Failed(hr)) return hr;
            if (HasBackslash(token)) return DISP_E_EXCEPTION;
            if (!IsProtectedKeyName(token)) {
                BorrowedKey parentKey(parent);
                static_cast<void>(DeleteKeyTree(parentKey.handle, token));  // a missing key is no error
            }
            if (isDelete) {
                hr = ReadToken(token);
                if (Failed(hr)) return hr;
                hr = SkipValueSpec(token);
                if (Failed(hr)) return hr;
            }
        }
        if (!isDelete) {
            if (SameName(token, u"NoRemove")) {
                hr = ReadToken(token);
                if (Failed(hr)) return hr;
            }
            if (SameName(token, u"Val")) {
                hr = RegisterValueEntry(token, parent);
                if (Failed(hr)) return hr;
            } else {
                if (HasBackslash(token)) return DISP_E_EXCEPTION;
                LONG error = keySlot.Open(parent, token, plat::KEY_READ | plat::KEY_WRITE);
                if (error != ERROR_SUCCESS) error = keySlot.Open(parent, token, plat::KEY_READ);
                if (error != ERROR_SUCCESS)
                    error = keySlot.Create(parent, token, plat::KEY_READ | plat::KEY_WRITE);
                if (error != ERROR_SUCCESS) return HResultFromWin32(error);
                hr = ReadToken(token);
                if (Failed(hr)) return hr;
                if (token[0] == u'=') {
                    hr = WriteValue(keySlot, nullptr, token);  // the key's default value
                    if (Failed(hr)) return hr;
                }
            }
        }
        if (IsOpeningBrace(token)) {
            hr = ProcessSection(token, keySlot.key, ScriptMode::Register, BlockAction::Apply);
            if (Failed(hr)) return hr;
            hr = ReadToken(token);
            if (Failed(hr)) return hr;
        }
    }
}

// Kept out of line so that the value-name buffer lives only while one value
// entry is handled, not in every level of the recursion.
VZ_NOINLINE HRESULT CRegistryScript::RegisterValueEntry(WCHAR* token, plat::HKEY parent) {
    WCHAR valueName[kTokenUnits];
    HRESULT hr = ReadToken(valueName);
    if (Failed(hr)) return hr;
    hr = ReadToken(token);
    if (Failed(hr)) return hr;
    if (token[0] != u'=') return DISP_E_EXCEPTION;
    BorrowedKey parentKey(parent);
    return WriteValue(parentKey.handle, valueName, token);
}

HRESULT CRegistryScript::UnregisterSection(WCHAR* token, plat::HKEY parent, BlockAction action) {
    const bool skipping = action == BlockAction::Skip;
    CKeyHandle keySlot;
    HRESULT hr = ReadToken(token);
    if (Failed(hr)) return hr;
    for (;;) {
        if (token[0] == u'}') {
            keySlot.Close();
            return S_OK;
        }
        if (SameName(token, u"ForceRemove") || SameName(token, u"Delete")) {
            hr = ReadToken(token);
            if (Failed(hr)) return hr;
        }
        bool stays = false;
        if (SameName(token, u"NoRemove")) {
            stays = true;
            hr = ReadToken(token);
            if (Failed(hr)) return hr;
        }
        if (SameName(token, u"Val")) {
            hr = UnregisterValueEntry(token, parent, !skipping && !stays);
            if (Failed(hr)) return hr;
            continue;  // no block follows a value entry
        }

        if (HasBackslash(token)) return DISP_E_EXCEPTION;
        const LONG openError =
            skipping ? ERROR_FILE_NOT_FOUND : keySlot.Open(parent, token, plat::KEY_READ);
        WCHAR keyName[kKeyNameUnits];
        std::size_t nameLength = 0;
        while (nameLength < kKeyNameUnits - 1 && token[nameLength] != 0) {
            keyName[nameLength] = token[nameLength];
            ++nameLength;
        }
        keyName[nameLength] = 0;

        hr = ReadToken(token);
        if (Failed(hr)) return hr;
        hr = SkipValueSpec(token);  // a default value goes with its key
        if (Failed(hr)) return hr;
        if (IsOpeningBrace(token)) {
            const BlockAction inner =
                skipping || openError != ERROR_SUCCESS ? BlockAction::Skip : BlockAction::Apply;
            hr = ProcessSection(token, keySlot.key, ScriptMode::Unregister, inner);
            if (Failed(hr) && openError == ERROR_SUCCESS) return hr;
            hr = ReadToken(token);
            if (Failed(hr)) return hr;
        }
        if (openError == ERROR_FILE_NOT_FOUND) continue;
        if (openError != ERROR_SUCCESS) return HResultFromWin32(openError);

        const bool hasSubkeys = KeyHasSubkeys(keySlot.key);
        const LONG closeError = keySlot.Close();
        if (closeError != ERROR_SUCCESS) return HResultFromWin32(closeError);
        if (!stays && !hasSubkeys) {
            BorrowedKey parentKey(parent);
            const LONG error = RemoveSubkey(parentKey.handle, keyName);
            if (error != ERROR_SUCCESS) return HResultFromWin32(error);
        }
    }
}

VZ_NOINLINE HRESULT CRegistryScript::UnregisterValueEntry(WCHAR* token, plat::HKEY parent,
                                                         bool removeValue) {
    WCHAR valueName[kTokenUnits];
    HRESULT hr = ReadToken(valueName);
    if (Failed(hr)) return hr;
    hr = ReadToken(token);
    if (Failed(hr)) return hr;
    if (token[0] != u'=') return DISP_E_EXCEPTION;
    if (removeValue) {
        CKeyHandle valueKey;
        LONG error = valueKey.Open(parent, nullptr, plat::KEY_WRITE);
        if (error != ERROR_SUCCESS) return HResultFromWin32(error);
        error = plat::RegDeleteValueW(valueKey.key, valueName);
        if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND)
            return HResultFromWin32(error);
    }
    return SkipValueSpec(token);
}

}  // namespace vz
