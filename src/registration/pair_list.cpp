#include "registration/pair_list.h"

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "support/decimal.h"

namespace vz {

namespace {

// Finds the NULs of a list in order. Lists run to megabytes, so it reads the
// list in blocks of 16 characters and keeps a bit mask of the NULs of the
// current block; each block is examined once however many strings it holds.
class NulScanner {
public:
    NulScanner(const WCHAR* list, std::size_t count) : list_(list), count_(count) {}

    // The position of the first NUL at or after `from`, or the count when none.
    std::size_t Next(std::size_t from) {
        if (from >= count_) return count_;
        if (!loaded_ || from < block_ || from - block_ >= kBlock) Load(from - from % kBlock);
        std::uint32_t mask = mask_ & (~0u << (from - block_));
        while (mask == 0) {
            if (count_ - block_ <= kBlock) return count_;
            Load(block_ + kBlock);
            mask = mask_;
        }
        return block_ + static_cast<std::size_t>(__builtin_ctz(mask));
    }

private:
    static constexpr std::size_t kBlock = 16;

    void Load(std::size_t start) {
        loaded_ = true;
        block_ = start;
        mask_ = 0;
#if defined(__SSE2__)
        if (count_ - start >= kBlock) {
            const __m128i zero = _mm_setzero_si128();
            __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(list_ + start));
            __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(list_ + start + 8));
            __m128i nuls = _mm_packs_epi16(_mm_cmpeq_epi16(low, zero), _mm_cmpeq_epi16(high, zero));
            mask_ = static_cast<std::uint32_t>(_mm_movemask_epi8(nuls));
            return;
        }
#endif
        std::size_t end = count_ - start < kBlock ? count_ : start + kBlock;
        for (std::size_t pos = start; pos < end; ++pos) {
            if (list_[pos] == 0) mask_ |= 1u << (pos - start);
        }
    }

    const WCHAR* list_;
    std::size_t count_;
    std::size_t block_ = 0;
    std::uint32_t mask_ = 0;
    bool loaded_ = false;
};

// One pair of a list: how long its index string is and how many characters it
// takes with both NULs.
struct Pair {
    std::size_t indexLength;
    std::size_t length;
};

// The pair at `pos`, or false at the end of the list.
inline bool PairAt(const WCHAR* list, std::size_t count, NulScanner& nuls, std::size_t pos,
                   Pair* pair) {
    if (pos >= count || list[pos] == 0) return false;
    std::size_t indexEnd = nuls.Next(pos);
    std::size_t textPos = indexEnd + 1;
    if (textPos >= count || list[textPos] == 0) return false;  // no text: the list ends
    std::size_t textEnd = nuls.Next(textPos);
    if (textEnd >= count) return false;  // text without its NUL
    pair->indexLength = indexEnd - pos;
    pair->length = textEnd + 1 - pos;
    return true;
}


// "%d" of the index, as perflib's readers expect; returns the digits written.
std::size_t FormatIndex(DWORD index, WCHAR* out) {
    if (static_cast<LONG>(index) >= 0) return WriteDecimal(index, 1, out);
    out[0] = u'-';
    return 1 + WriteDecimal(0u - index, 1, out + 1);
}

std::size_t DecimalDigits(DWORD index) {
    WCHAR scratch[12];
    return FormatIndex(index, scratch);
}

}  // namespace

DWORD ParseTitleIndex(const WCHAR* text, std::size_t length) {
    return WideToUnsigned32(text, length);
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
        if (length != 0) std::memcpy(out + written, from, length * sizeof(WCHAR));  // from may be null
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

    // Kept pairs are copied in runs: [runStart, pos) is kept and not yet copied.
    bool blockWritten = false;
    std::size_t pos = 0;
    std::size_t runStart = 0;
    NulScanner nuls(old, oldCount);
    Pair pair;
    while (PairAt(old, oldCount, nuls, pos, &pair)) {
        DWORD index = WideToUnsigned32(old + pos, pair.indexLength);
        bool keep = index < first || index > last;
        if ((!blockWritten && index >= first) || !keep) {
            if (!copy(old + runStart, pos - runStart)) return 0;
            runStart = pos;
        }
        if (!blockWritten && index >= first) {
            if (!writeBlock()) return 0;
            blockWritten = true;
        }
        pos += pair.length;
        if (!keep) runStart = pos;
    }
    if (!copy(old + runStart, pos - runStart)) return 0;
    if (!blockWritten && !writeBlock()) return 0;
    const WCHAR terminator = 0;
    if (!copy(&terminator, 1)) return 0;
    return written;
}

std::size_t RemovePairRange(WCHAR* list, std::size_t count, DWORD lowest, DWORD highest) {
    if (count == 0) return 0;
    // Kept pairs move in runs: [runStart, read) is kept and not yet moved.
    std::size_t read = 0;
    std::size_t write = 0;
    std::size_t runStart = 0;
    std::size_t lastKept = 0;
    auto flush = [&]() {
        std::size_t length = read - runStart;
        if (length != 0 && write != runStart) {
            std::memmove(list + write, list + runStart, length * sizeof(WCHAR));
        }
        write += length;
    };
    NulScanner nuls(list, count);
    Pair pair;
    while (PairAt(list, count, nuls, read, &pair)) {
        DWORD index = WideToUnsigned32(list + read, pair.indexLength);
        if (index < lowest || index > highest) {
            lastKept = write + (read - runStart);
        } else {
            flush();
            runStart = read + pair.length;
        }
        read += pair.length;
    }
    flush();
    // A buffer that ends right after a pair leaves no room for the terminator;
    // the last pair gives way to it.
    if (write == count) write = lastKept;
    list[write] = 0;
    return write + 1;
}

}  // namespace vz
