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
// name offset given, every other byte 0xAB (no NUL unit anywhere).
std::vector<BYTE> Record(DWORD size, DWORD nameOffset) {
    std::vector<BYTE> record(size, 0xAB);
    const DWORD header[5] = {size, kCategory, 77, 1, nameOffset};
    std::memcpy(record.data(), header, sizeof header);
    return record;
}

// The snapshot of `size` bytes of `record`, taken into `copy`, which is made
// exactly that large so that a sanitizer sees any read past the copy.
InstanceSnapshot TakeInto(std::vector<BYTE>* copy, const std::vector<BYTE>& record, DWORD size,
                          DWORD category, bool* usable) {
    copy->assign(size, 0);
    return InstanceSnapshot::Take(record.data(), size, category, copy->data(), usable);
}

void PutName(std::vector<BYTE>* record, DWORD offset, std::size_t units, bool terminated) {
    for (std::size_t i = 0; i < units; ++i) {
        const WCHAR unit = static_cast<WCHAR>(u'A' + i);
        std::memcpy(record->data() + offset + 2 * i, &unit, 2);
    }
    if (terminated) std::memset(record->data() + offset + 2 * units, 0, 2);
}

// The name's length is found for names of every length at odd and even
// offsets, shorter and longer than one and two steps of the scan (eight
// units with vectors, four without). A name without terminator inside the
// copy (the terminator would be just past the record, or the record ends in
// the middle of a unit), or an offset past it, is refused.
TEST(InstanceSnapshot, NameLengthIsFoundAtEveryPositionOfTheScan) {
    for (DWORD offset : {20u, 21u, 84u, 87u}) {
        for (std::size_t units = 0; units <= 21; ++units) {
            SCOPED_TRACE(::testing::Message() << "offset " << offset << " units " << units);
            std::vector<BYTE> record = Record(212, offset);
            PutName(&record, offset, units, true);
            std::vector<BYTE> copy;
            bool usable = false;
            const InstanceSnapshot snapshot = TakeInto(&copy, record, 212, kCategory, &usable);
            ASSERT_TRUE(usable);
            const BYTE* name = nullptr;
            std::size_t found = 99;
            ASSERT_TRUE(snapshot.FindName(&name, &found));
            EXPECT_EQ(found, units);
            EXPECT_EQ(name, snapshot.Data() + offset);
        }
    }
    for (DWORD size : {120u, 121u, 123u, 124u, 212u}) {
        SCOPED_TRACE(size);
        const DWORD offset = size == 212 ? 213 : 84;
        std::vector<BYTE> buffer = Record(size, offset);
        if (offset < size) PutName(&buffer, offset, (size - offset) / 2, false);
        buffer.resize(size + 16, 0);  // zeros beyond the record must not be read as its end
        std::vector<BYTE> copy;
        bool usable = false;
        const InstanceSnapshot snapshot = TakeInto(&copy, buffer, size, kCategory, &usable);
        const BYTE* name = nullptr;
        std::size_t found = 0;
        EXPECT_FALSE(snapshot.FindName(&name, &found));
    }
}

TEST(InstanceSnapshot, UsableOnlyForTheCategoryWhileLive) {
    struct Case {
        const char* what;
        std::size_t field;  // byte offset of the header word changed
        DWORD value;
        DWORD category;
        bool usable;
    };
    const Case cases[] = {
        {"as written", 0, 212, kCategory, true},
        {"other category asked", 0, 212, kCategory + 1, false},
        {"free record", 12, 0, kCategory, false},
        {"use count above one", 12, 5, kCategory, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<BYTE> record = Record(212, 84);
        std::memcpy(record.data() + c.field, &c.value, 4);
        std::vector<BYTE> copy;
        bool usable = !c.usable;
        const InstanceSnapshot snapshot = TakeInto(&copy, record, 212, c.category, &usable);
        EXPECT_EQ(usable, c.usable);
        EXPECT_EQ(std::memcmp(snapshot.Data(), record.data(), 212), 0);
    }
}

TEST(InstanceSnapshot, RecordsOfEverySizeClassAreCopiedByteForByte) {
    // Every size class of the copy: each side of 4, 8, 16, 32, 64, 128 and 256
    // bytes, and far beyond.
    for (DWORD size : {20u, 31u, 32u, 33u, 63u, 64u, 65u, 127u, 128u, 129u, 212u, 255u, 256u,
                       257u, 1024u, 1025u, 5000u}) {
        SCOPED_TRACE(size);
        std::vector<BYTE> record = Record(size, 20);
        for (DWORD i = 20; i < size; ++i) record[i] = static_cast<BYTE>(i * 7 % 251 + 1);
        std::vector<BYTE> copy;
        bool usable = false;
        const InstanceSnapshot snapshot = TakeInto(&copy, record, size, kCategory, &usable);
        EXPECT_TRUE(usable);
        EXPECT_EQ(snapshot.Size(), size);
        EXPECT_EQ(std::memcmp(snapshot.Data(), record.data(), size), 0);
        EXPECT_NE(snapshot.Data(), record.data());
    }
}

}  // namespace
}  // namespace vz
