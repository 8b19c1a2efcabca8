#include "registration/pair_list.h"

#include <cstring>

namespace vz {

namespace {

// Length of the string at `pos`, stopping at the buffer's end.
std::size_t StringLength(const WCHAR* list, std::size_t count, std::size_t pos) {
    std::size_t end = pos;
    while (end < count && list[end] != 0) ++end;
    return end - pos;
}

// One pair of a list: where it starts, how long its index string is and how
// many characters it takes with both NULs.
struct Pair {
    std::size_t indexLength;
    std::size_t length;
};

// The pair at `pos`, or false at the end of the list.
bool PairAt(const WCHAR* list, std::size_t count, std::size_t pos, Pair* pair) {
    if (pos >= count || list[pos] == 0) return false;
    std::size_t indexLength = StringLength(list, count, pos);
    std::size_t textPos = pos + indexLength + 1;
    if (textPos >= count || list[textPos] == 0) return false;  // no text: the list ends
    std::size_t textLength = StringLength(list, count, textPos);
    if (textPos + textLength >= count) return false;  // text without its NUL
    pair->indexLength = indexLength;
    pair->length = indexLength + 1 + textLength + 1;
    return true;
}

bool IsWhiteSpace(WCHAR ch) { return ch == u' ' || (ch >= u'\t' && ch <= u'\r'); }

// "%d" of the index, as perflib's readers expect; returns the digits written.
std::size_t FormatIndex(DWORD index, WCHAR* out) {
    WCHAR digits[12];
    std::size_t count = 0;
    LONG value = static_cast<LONG>(index);
    DWORD magnitude = value < 0 ? 0u - index : index;
    do {
        digits[count++] = static_cast<WCHAR>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    std::size_t written = 0;
    if (value < 0) out[written++] = u'-';
    while (count > 0) out[written++] = digits[--count];
    return written;
}

std::size_t DecimalDigits(DWORD index) {
    WCHAR scratch[12];
    return FormatIndex(index, scratch);
}

}  // namespace

DWORD ParseTitleIndex(const WCHAR* text, std::size_t length) {
    std::size_t pos = 0;
    while (pos < length && IsWhiteSpace(text[pos])) ++pos;
    bool negative = false;
    if (pos < length && (text[pos] == u'+' || text[pos] == u'-')) {
        negative = text[pos] == u'-';
        ++pos;
    }
    ULONGLONG magnitude = 0;
    for (; pos < length && text[pos] >= u'0' && text[pos] <= u'9'; ++pos) {
        magnitude = magnitude * 10 + static_cast<unsigned>(text[pos] - u'0');
        if (magnitude > 0xFFFFFFFFu) magnitude = 0xFFFFFFFFu;
    }
    DWORD value = static_cast<DWORD>(magnitude);
    return negative ? 0u - value : value;
}

std::size_t TitlePairLength(DWORD index, std::size_t textLength) {
    return DecimalDigits(index) + 1 + textLength + 1;
}

std::size_t MergePairList(const WCHAR* old, std::size_t oldCount, const WString* texts,
                          std::size_t textCount, DWORD first, DWORD last, WCHAR* out,
                          std::size_t outCount) {
    std::size_t written = 0;
    auto copy = [&](const WCHAR* from, std::size_t length) {
        if (length > outCount - written) return false;
        std::memcpy(out + written, from, length * sizeof(WCHAR));
        written += length;
        return true;
    };
    auto writeBlock = [&]() {
        DWORD index = first;
        for (std::size_t k = 0; k < textCount; ++k, index += 2) {
            std::size_t textLength = texts[k].Length();
            if (textLength == 0) return false;  // an empty text would end the list
            if (TitlePairLength(index, textLength) > outCount - written) return false;
            written += FormatIndex(index, out + written);
            out[written++] = 0;
            std::memcpy(out + written, texts[k].c_str(), textLength * sizeof(WCHAR));
            written += textLength;
            out[written++] = 0;
        }
        return true;
    };

    bool blockWritten = false;
    std::size_t pos = 0;
    Pair pair;
    while (PairAt(old, oldCount, pos, &pair)) {
        DWORD index = ParseTitleIndex(old + pos, pair.indexLength);
        if (!blockWritten && index >= first) {
            if (!writeBlock()) return 0;
            blockWritten = true;
        }
        if (index < first || index > last) {
            if (!copy(old + pos, pair.length)) return 0;
        }
        pos += pair.length;
    }
    if (!blockWritten && !writeBlock()) return 0;
    const WCHAR terminator = 0;
    if (!copy(&terminator, 1)) return 0;
    return written;
}

std::size_t RemovePairRange(WCHAR* list, std::size_t count, DWORD lowest, DWORD highest) {
    if (count == 0) return 0;
    std::size_t read = 0;
    std::size_t write = 0;
    std::size_t lastKept = 0;
    Pair pair;
    while (PairAt(list, count, read, &pair)) {
        DWORD index = ParseTitleIndex(list + read, pair.indexLength);
        if (index < lowest || index > highest) {
            if (write != read) std::memmove(list + write, list + read, pair.length * sizeof(WCHAR));
            lastKept = write;
            write += pair.length;
        }
        read += pair.length;
    }
    // A buffer that ends right after a pair leaves no room for the terminator;
    // the last pair gives way to it.
    if (write == count) write = lastKept;
    list[write] = 0;
    return write + 1;
}

}  // namespace vz
