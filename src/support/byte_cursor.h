// Bounds-checked cursors over a byte range, for every cross-process and perflib
// byte format (the checked tier of byte access; sharedmem/byte_layout.h has the
// unchecked one). A read, write or step that would leave the range is refused:
// the call returns false, which must be used, the cursor stays where it was,
// and FailureMessage() says which access was refused. Words are little-endian
// and may be unaligned.
//
// Both cursors are header-only and allocate nothing, so the collection path can
// use them per record.
#pragma once
#include <cstddef>
#include <cstring>
#include <string>

#include "support/types.h"

namespace vz {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "byte formats are little-endian");

// What a refused access looked like; shared by the reader and the writer.
struct ByteRangeFault {
    bool refused = false;
    ULONGLONG offset = 0;  // where the access started
    ULONGLONG count = 0;   // bytes it needed
    std::size_t size = 0;  // bytes in the range
};

// "<verb> of <count> bytes at offset <offset> passes the end of the <size>-byte range".
std::string DescribeByteRangeFault(const ByteRangeFault& fault, const char* verb);

// What the reader and the writer share: the range, the position and the fault.
template <typename Byte>
class ByteCursor {
public:
    std::size_t Offset() const noexcept { return offset_; }
    std::size_t Size() const noexcept { return size_; }
    std::size_t Remaining() const noexcept { return size_ - offset_; }
    Byte* Data() const noexcept { return data_; }
    // True when `count` bytes at `offset` lie inside the range.
    [[nodiscard]] bool Holds(ULONGLONG offset, ULONGLONG count) const noexcept {
        return offset <= size_ && count <= size_ - offset;
    }

    [[nodiscard]] bool Seek(ULONGLONG offset) noexcept {
        if (!Holds(offset, 0)) return Refuse(offset, 0);
        offset_ = static_cast<std::size_t>(offset);
        return true;
    }
    // Steps over `count` bytes, reading or writing nothing.
    [[nodiscard]] bool Skip(ULONGLONG count) noexcept {
        Byte* at;
        return Take(count, &at);
    }

    [[nodiscard]] bool Failed() const noexcept { return fault_.refused; }
    const ByteRangeFault& Fault() const noexcept { return fault_; }

protected:
    ByteCursor(Byte* data, std::size_t size) noexcept
        : data_(data), size_(data == nullptr ? 0 : size) {}

    // Points *at to the next `count` bytes and steps over them.
    bool Take(ULONGLONG count, Byte** at) noexcept {
        if (!Holds(offset_, count)) return Refuse(offset_, count);
        *at = data_ + offset_;
        offset_ += static_cast<std::size_t>(count);
        return true;
    }
    // Points *at to `count` bytes at an absolute offset; the cursor does not move.
    bool At(ULONGLONG offset, ULONGLONG count, Byte** at) noexcept {
        if (!Holds(offset, count)) return Refuse(offset, count);
        *at = data_ + offset;
        return true;
    }
    bool Refuse(ULONGLONG offset, ULONGLONG count) noexcept {
        fault_ = {true, offset, count, size_};
        return false;
    }

private:
    Byte* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
    ByteRangeFault fault_;
};

class ByteReader : public ByteCursor<const BYTE> {
public:
    ByteReader(const void* data, std::size_t size) noexcept
        : ByteCursor(static_cast<const BYTE*>(data), size) {}

    [[nodiscard]] bool ReadWord(DWORD* value) noexcept { return ReadBytes(value, sizeof *value); }
    [[nodiscard]] bool ReadQword(ULONGLONG* value) noexcept { return ReadBytes(value, sizeof *value); }
    [[nodiscard]] bool ReadBytes(void* out, ULONGLONG count) noexcept {
        const BYTE* at;
        if (!Take(count, &at)) return false;
        if (count != 0) std::memcpy(out, at, static_cast<std::size_t>(count));
        return true;
    }
    // Points *at to the next `count` bytes in place and steps over them.
    [[nodiscard]] bool ReadSpan(ULONGLONG count, const BYTE** at) noexcept { return Take(count, at); }
    // Points *at to `count` bytes at an absolute offset; the cursor does not move.
    [[nodiscard]] bool SpanAt(ULONGLONG offset, ULONGLONG count, const BYTE** at) noexcept {
        return At(offset, count, at);
    }
    // The word at an absolute offset; the cursor does not move.
    [[nodiscard]] bool WordAt(ULONGLONG offset, DWORD* value) noexcept {
        const BYTE* at;
        if (!At(offset, sizeof *value, &at)) return false;
        std::memcpy(value, at, sizeof *value);
        return true;
    }

    std::string FailureMessage() const { return DescribeByteRangeFault(Fault(), "read"); }
};

class ByteWriter : public ByteCursor<BYTE> {
public:
    ByteWriter(void* data, std::size_t size) noexcept
        : ByteCursor(static_cast<BYTE*>(data), size) {}

    [[nodiscard]] bool WriteWord(DWORD value) noexcept { return WriteBytes(&value, sizeof value); }
    [[nodiscard]] bool WriteQword(ULONGLONG value) noexcept { return WriteBytes(&value, sizeof value); }
    [[nodiscard]] bool WriteBytes(const void* bytes, ULONGLONG count) noexcept {
        BYTE* at;
        if (!Take(count, &at)) return false;
        if (count != 0) std::memcpy(at, bytes, static_cast<std::size_t>(count));
        return true;
    }
    [[nodiscard]] bool WriteZeros(ULONGLONG count) noexcept {
        BYTE* at;
        if (!Take(count, &at)) return false;
        if (count != 0) std::memset(at, 0, static_cast<std::size_t>(count));
        return true;
    }
    // Zero-fills up to the next multiple of `alignment` (a power of two).
    [[nodiscard]] bool PadTo(std::size_t alignment) noexcept {
        return WriteZeros((alignment - Offset() % alignment) % alignment);
    }
    // The word at an absolute offset; the cursor does not move.
    [[nodiscard]] bool WordAt(ULONGLONG offset, DWORD value) noexcept {
        BYTE* at;
        if (!At(offset, sizeof value, &at)) return false;
        std::memcpy(at, &value, sizeof value);
        return true;
    }

    std::string FailureMessage() const { return DescribeByteRangeFault(Fault(), "write"); }
};

}  // namespace vz
