// The private copy of an instance record: what makes it usable, and where the
// name ends, for names of every length around the steps of the scan.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sharedmem/byte_layout.h"
#include "sharedmem/instance_snapshot.h"

namespace vz {
namespace {

constexpr DWORD kCategory = 4;

// A live record of `size` bytes: CategoryId 4, InstanceId 77, UseCount 1, the
// name offset given, then bytes 0xAB and 0 in turn: units with a zero byte at
// any offset, but no NUL unit anywhere.
std::vector<BYTE> Record(DWORD size, DWORD nameOffset) {
    std::vector<BYTE> record(size, 0);
    for (DWORD i = kRecordHeaderSize; i < size; i += 2) record[i] = 0xAB;
    const DWORD header[5] = {size, kCategory, 77, kLiveUseCount, nameOffset};
    std::memcpy(record.data(), header, sizeof header);
    return record;
}

// The snapshot of the record's first `size` bytes, taken into `copy`, which is
// made exactly that large so that a sanitizer sees any read past the copy.
InstanceSnapshot TakeInto(std::vector<BYTE>* copy, const std::vector<BYTE>& record, DWORD size,
                          DWORD category = kCategory, bool* usable = nullptr) {
    bool ignored;
    copy->assign(size, 0);
    return InstanceSnapshot::Take(record.data(), size, category, copy->data(),
                                  usable != nullptr ? usable : &ignored);
}

// The name's length is found for names of every length at odd and even
// offsets, shorter and longer than one and two steps of the scan (eight
// units with vectors, four without). A name without terminator inside the
// copy (the terminator would be just past the record, or the record ends in
// the middle of a unit), or an offset past it, is refused.
TEST(InstanceSnapshot, NameLengthIsFoundAtEveryPositionOfTheScan) {
    const BYTE* name = nullptr;
    std::size_t found = 0;
    std::vector<BYTE> copy;
    for (DWORD offset : {20u, 21u, 84u, 87u}) {
        for (DWORD units = 0; units <= 21; ++units) {
            for (DWORD size : {212u, offset + 2 * units + 2}) {  // room after the name, or none
                SCOPED_TRACE(::testing::Message()
                             << "offset " << offset << " units " << units << " size " << size);
                std::vector<BYTE> record = Record(size, offset);
                std::memset(record.data() + offset + 2 * units, 0, 2);
                const InstanceSnapshot snapshot = TakeInto(&copy, record, size);
                ASSERT_TRUE(snapshot.FindName(&name, &found));
                EXPECT_EQ(found, units);
                EXPECT_EQ(name, snapshot.Data() + offset);
            }
        }
    }
    for (DWORD size : {120u, 121u, 123u, 124u, 212u}) {
        SCOPED_TRACE(size);
        std::vector<BYTE> buffer = Record(size, size == 212 ? 213 : 84);
        buffer.resize(size + 16, 0);  // zeros beyond the record must not be read as its end
        EXPECT_FALSE(TakeInto(&copy, buffer, size).FindName(&name, &found));
    }
}

// Records of every size class of the copy (each side of 32, 64, 128 and 256
// bytes, and far beyond) are copied byte for byte; the copy is usable only
// for the category asked and while the record is not free.
TEST(InstanceSnapshot, RecordsAreCopiedByteForByteAndUsableOnlyWhileLive) {
    const struct {
        const char* what;
        DWORD useCount;
        DWORD category;
        bool usable;
    } cases[] = {
        {"as written", kLiveUseCount, kCategory, true},
        {"other category asked", kLiveUseCount, kCategory + 1, false},
        {"free record", kFreeUseCount, kCategory, false},
        {"use count above one", 5, kCategory, true},
    };
    for (const auto& c : cases) {
        for (DWORD size : {20u, 31u, 32u, 33u, 63u, 64u, 65u, 127u, 128u, 129u, 212u, 255u, 256u,
                           257u, 1024u, 1025u, 5000u}) {
            SCOPED_TRACE(::testing::Message() << c.what << ", " << size << " bytes");
            std::vector<BYTE> record = Record(size, 20);
            for (DWORD i = 20; i < size; ++i) record[i] = static_cast<BYTE>(i * 7 % 251 + 1);
            std::memcpy(record.data() + kUseCountOffset, &c.useCount, 4);
            std::vector<BYTE> copy;
            bool usable = !c.usable;
            const InstanceSnapshot snapshot = TakeInto(&copy, record, size, c.category, &usable);
            EXPECT_EQ(usable, c.usable);
            EXPECT_EQ(snapshot.Size(), size);
            EXPECT_EQ(snapshot.Data(), copy.data());
            EXPECT_EQ(std::memcmp(snapshot.Data(), record.data(), size), 0);
        }
    }
}

}  // namespace
}  // namespace vz
