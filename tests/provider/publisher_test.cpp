// The provider SDK seen from outside: its C interface, the bytes of its blocks
// as another process maps them, and what the library's own reader makes of them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "objectmap/perfmon.h"
#include "common/perflib_seed.h"
#include "platform/emulated/emulated_control.h"
#include "platform/platform.h"
#include "server_statistics.h"
#include "vudozid_provider.h"
#include "vudozid_provider.hpp"

namespace {

using namespace vz;

DWORD Word(const BYTE* bytes, std::size_t offset) {
    DWORD v;
    std::memcpy(&v, bytes + offset, 4);
    return v;
}

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// A reader's read-only view of one block, mapped like the library maps it.
class ReaderView {
public:
    ReaderView(const std::u16string& name, DWORD size) {
        mapping_ = plat::OpenFileMappingW(plat::FILE_MAP_READ, 0, name.c_str());
        if (mapping_ != nullptr)
            view_ = static_cast<const BYTE*>(
                plat::MapViewOfFileEx(mapping_, plat::FILE_MAP_READ, 0, 0, size, nullptr));
    }
    ~ReaderView() {
        if (view_ != nullptr) plat::UnmapViewOfFile(view_);
        if (mapping_ != nullptr) plat::CloseHandle(mapping_);
    }
    const BYTE* bytes() const { return view_; }

private:
    plat::HANDLE mapping_ = nullptr;
    const BYTE* view_ = nullptr;
};

// The library's reader for the test's application name.
class TestMonitor : public ATL::CPerfMon {
public:
    explicit TestMonitor(std::u16string application) : application_(std::move(application)) {}
    ~TestMonitor() { CloseObject(); }
    const WCHAR* ApplicationName() const override { return application_.c_str(); }
    // The instance names of one collection of everything.
    std::vector<std::u16string> CollectNames() {
        std::vector<BYTE> buffer(1 << 20);
        void* cursor = buffer.data();
        DWORD bytes = static_cast<DWORD>(buffer.size()), count = 0;
        EXPECT_EQ(CollectObject(u"Global", &cursor, &bytes, &count), 0u);
        std::vector<std::u16string> names;
        if (count != 1) return names;
        PERF_OBJECT_TYPE object;
        std::memcpy(&object, buffer.data(), sizeof object);
        std::size_t at = object.DefinitionLength;
        for (LONG i = 0; i < object.NumInstances; ++i) {
            PERF_INSTANCE_DEFINITION instance;
            std::memcpy(&instance, buffer.data() + at, sizeof instance);
            names.emplace_back(reinterpret_cast<const char16_t*>(buffer.data() + at + 24));
            at += instance.ByteLength;
            at += Word(buffer.data(), at);  // the counter block
        }
        return names;
    }

private:
    std::u16string application_;
};

// The server's object: map size 620 + names, records of 212 bytes.
class PublisherTest : public ::testing::Test {
protected:
    void SetUp() override {
        emu::SetAllocationGranularityValue(4096);
        emu::ResetRegistry();
        object_ = qvsim::ServerStatisticsObject();
    }
    void TearDown() override {
        vzp_close(publisher_);
        emu::SetAllocationGranularityValue(65536);
    }
    void Open() { ASSERT_EQ(vzp_open(application_.c_str(), &object_, &publisher_), VZP_OK); }
    vzp_instance Add(const char* name) {
        vzp_instance instance = 0;
        EXPECT_EQ(vzp_add_instance(publisher_, name, &instance), VZP_OK) << name;
        return instance;
    }
    std::u16string BlockName(int number) const {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "_%03d", number);
        return u"Global\\ATLPERF_" + Wide(application_ + suffix);
    }
    DWORD InstanceArea(const BYTE* block0) const { return (Word(block0, 0) + 4 + 15) & ~15u; }

    const std::string application_ = "Provider Test " + std::to_string(::getpid());
    vzp_object object_{};
    vzp_publisher* publisher_ = nullptr;
};

TEST_F(PublisherTest, BlockZeroHoldsMapBlockNumberAndOneRecord) {
    Open();
    const vzp_instance h = Add("Quorvane01");
    ASSERT_EQ(vzp_set_value(publisher_, h, 1, 7), VZP_OK);
    ASSERT_EQ(vzp_set_value(publisher_, h, 0, 96), VZP_OK);

    ReaderView block(BlockName(0), 4096);
    ASSERT_NE(block.bytes(), nullptr);
    const BYTE* b = block.bytes();
    const DWORD mapSize = Word(b, 0);
    EXPECT_EQ(Word(b, 4), 17u);
    const DWORD category[9] = {1, 4, 100, 0, 0, 84, 64, 0, 0};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(Word(b, 8 + 4 * i), category[i]) << "word " << i;
    const DWORD lastCounter[9] = {0, 0, 100, 0x10000, 0, 80, 0, 0, 0};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(Word(b, 8 + 16 * 36 + 4 * i), lastCounter[i]) << i;
    EXPECT_EQ(Word(b, 620), 18u);  // "Quorvane Server 11"
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(b + 624), 18), u"Quorvane Server 11");
    EXPECT_EQ(Word(b, mapSize), 0u);  // block number

    const DWORD d = InstanceArea(b);
    const DWORD header[5] = {212, 4, Word(b, d + 8), 1, 84};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Word(b, d + 4 * i), header[i]) << "header word " << i;
    EXPECT_NE(Word(b, d + 8), 0u);
    EXPECT_EQ(Word(b, d + 20), 96u);
    EXPECT_EQ(Word(b, d + 24), 7u);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(b + d + 84)), u"Quorvane01");
    EXPECT_EQ(Word(b, d + 212), 0u);  // end of all data
}

TEST_F(PublisherTest, RegisteredTitleIndicesNumberTheMap) {
    uint32_t name = 0, help = 0;
    EXPECT_EQ(vzp_registered_indices(application_.c_str(), &name, &help), VZP_ERROR_NOT_REGISTERED);
    const std::u16string key = u"SYSTEM\\CurrentControlSet\\Services\\" + Wide(application_) +
                               u"\\Performance";
    vz::test::WriteDword(key, u"First Counter", 1848);
    vz::test::WriteDword(key, u"First Help", 1849);
    ASSERT_EQ(vzp_registered_indices(application_.c_str(), &name, &help), VZP_OK);
    EXPECT_EQ(name, 1848u);
    EXPECT_EQ(help, 1849u);
    ASSERT_TRUE(vudozid::RegisteredIndices(application_, object_));
    Open();
    ReaderView block(BlockName(0), 4096);
    EXPECT_EQ(Word(block.bytes(), 8 + 28), 1848u);                // the object
    EXPECT_EQ(Word(block.bytes(), 8 + 32), 1849u);
    EXPECT_EQ(Word(block.bytes(), 8 + 16 * 36 + 28), 1848u + 32);  // the sixteenth counter
    EXPECT_EQ(Word(block.bytes(), 8 + 16 * 36 + 32), 1849u + 32);
}

TEST_F(PublisherTest, FullBlockSpillsIntoTheNextAndTheReaderFollows) {
    Open();
    ReaderView block0(BlockName(0), 4096);
    const DWORD d = InstanceArea(block0.bytes());
    const DWORD perBlock = (4096 - d - 4) / 212;
    std::vector<std::u16string> names;
    for (DWORD i = 0; i < perBlock + 2; ++i) {
        const std::string name = "db" + std::string(1, static_cast<char>('A' + i));
        names.push_back(Wide(name));
        Add(name.c_str());
    }
    ReaderView block1(BlockName(1), 4096);
    ASSERT_NE(block1.bytes(), nullptr);
    EXPECT_EQ(Word(block0.bytes(), d + perBlock * 212), 0xFFFFFFFFu);
    EXPECT_EQ(Word(block1.bytes(), Word(block0.bytes(), 0)), 1u);
    EXPECT_EQ(Word(block1.bytes(), d), 212u);
    EXPECT_EQ(Word(block1.bytes(), d + 212), 212u);
    EXPECT_EQ(Word(block1.bytes(), d + 2 * 212), 0u);
    TestMonitor monitor(Wide(application_));
    EXPECT_EQ(monitor.CollectNames(), names);
}

TEST_F(PublisherTest, FreedRecordIsReusedUnderANewIdentityAndTheOldHandleIsDead) {
    Open();
    Add("alpha");
    const vzp_instance beta = Add("beta");
    Add("gamma");
    ASSERT_EQ(vzp_set_value(publisher_, beta, 0, 55), VZP_OK);
    ReaderView view(BlockName(0), 4096);
    const DWORD record = InstanceArea(view.bytes()) + 212;  // beta's
    const DWORD firstId = Word(view.bytes(), record + 8);

    ASSERT_EQ(vzp_remove_instance(publisher_, beta), VZP_OK);
    EXPECT_EQ(Word(view.bytes(), record + 12), 0u);
    const DWORD freedId = Word(view.bytes(), record + 8);
    EXPECT_NE(freedId, firstId);
    TestMonitor monitor(Wide(application_));
    EXPECT_EQ(monitor.CollectNames(), (std::vector<std::u16string>{u"alpha", u"gamma"}));

    const vzp_instance delta = Add("delta");
    EXPECT_NE(delta, beta);
    EXPECT_GT(Word(view.bytes(), record + 8), freedId);
    EXPECT_EQ(Word(view.bytes(), record + 12), 1u);
    EXPECT_EQ(Word(view.bytes(), record + 20), 0u);  // the old occupant's value is gone
    // The removed instance's handle does not reach the record's new occupant.
    EXPECT_EQ(vzp_set_value(publisher_, beta, 0, 1), VZP_ERROR_UNKNOWN_INSTANCE);
    EXPECT_EQ(vzp_remove_instance(publisher_, beta), VZP_ERROR_UNKNOWN_INSTANCE);
    EXPECT_EQ(Word(view.bytes(), record + 20), 0u);
    EXPECT_EQ(monitor.CollectNames(), (std::vector<std::u16string>{u"alpha", u"delta", u"gamma"}));
}

// Every refused call has its own code and leaves the record as it was.
TEST_F(PublisherTest, RefusedValuesNamesAndHandlesHaveTheirOwnCodes) {
    vzp_counter counters[3] = {{"small", VZP_RAWCOUNT, 100, 0},
                               {"large", 0x00010100u /* PERF_COUNTER_LARGE_RAWCOUNT */, 100, 0},
                               {"nodata", 0x40000200u /* PERF_COUNTER_NODATA */, 100, 0}};
    object_.counters = counters;
    object_.counter_count = 3;
    object_.max_instance_name_length = 9;  // eight units and the terminator
    Open();
    const vzp_instance h = Add("eight888");
    ReaderView view(BlockName(0), 4096);
    const BYTE* record = view.bytes() + InstanceArea(view.bytes());
    ASSERT_EQ(vzp_set_value(publisher_, h, 0, 0xFFFFFFFFu), VZP_OK);
    ASSERT_EQ(vzp_set_value(publisher_, h, 1, 0x123456789AULL), VZP_OK);
    EXPECT_EQ(Word(record, 20), 0xFFFFFFFFu);
    EXPECT_EQ(Word(record, 24), 0x3456789Au);  // low word first
    EXPECT_EQ(Word(record, 28), 0x12u);
    EXPECT_EQ(Word(record, 16), 32u);          // no room taken by the zero-size counter

    vzp_instance none = 0;
    const uint64_t tooLarge[3] = {4294967296ULL, 1, 0};
    const uint64_t zeroCarriesNothing[3] = {1, 1, 1};
    const struct {
        const char* what;
        vzp_status got, want;
    } cases[] = {
        {"2^32 in a 32-bit counter", vzp_set_value(publisher_, h, 0, 4294967296ULL),
         VZP_ERROR_VALUE_TOO_LARGE},
        {"a value for a zero-size counter", vzp_set_value(publisher_, h, 2, 1),
         VZP_ERROR_VALUE_TOO_LARGE},
        {"all values, one too large", vzp_set_all(publisher_, h, tooLarge, 3),
         VZP_ERROR_VALUE_TOO_LARGE},
        {"all values, the last too large", vzp_set_all(publisher_, h, zeroCarriesNothing, 3),
         VZP_ERROR_VALUE_TOO_LARGE},
        {"two values for three counters", vzp_set_all(publisher_, h, tooLarge, 2),
         VZP_ERROR_COUNT_MISMATCH},
        {"counter 3 of 3", vzp_set_value(publisher_, h, 3, 1), VZP_ERROR_UNKNOWN_COUNTER},
        {"handle 0", vzp_set_value(publisher_, 0, 0, 1), VZP_ERROR_UNKNOWN_INSTANCE},
        {"a handle never given", vzp_set_value(publisher_, h + 1, 0, 1), VZP_ERROR_UNKNOWN_INSTANCE},
        {"a handle of another generation", vzp_remove_instance(publisher_, h + (1ULL << 32)),
         VZP_ERROR_UNKNOWN_INSTANCE},
        {"nine characters for eight", vzp_add_instance(publisher_, "nine99999", &none),
         VZP_ERROR_NAME_TOO_LONG},
        // U+1F600 takes two UTF-16 units: eight characters, nine units.
        {"nine UTF-16 units", vzp_add_instance(publisher_, "abcdefg\xF0\x9F\x98\x80", &none),
         VZP_ERROR_NAME_TOO_LONG},
        {"an empty name", vzp_add_instance(publisher_, "", &none), VZP_ERROR_EMPTY_NAME},
        {"a name that is not UTF-8", vzp_add_instance(publisher_, "ab\xC3", &none),
         VZP_ERROR_INVALID_ARGUMENT},
        {"a null name", vzp_add_instance(publisher_, nullptr, &none), VZP_ERROR_INVALID_ARGUMENT},
        {"a null publisher", vzp_set_value(nullptr, h, 0, 1), VZP_ERROR_INVALID_ARGUMENT},
        {"null values", vzp_set_all(publisher_, h, nullptr, 3), VZP_ERROR_INVALID_ARGUMENT},
        {"adding 1 to a zero-size counter", vzp_add(publisher_, h, 2, 1), VZP_ERROR_VALUE_TOO_LARGE},
        {"adding to counter 3 of 3", vzp_add(publisher_, h, 3, 1), VZP_ERROR_UNKNOWN_COUNTER},
        {"adding through a handle never given", vzp_add(publisher_, h + 1, 0, 1),
         VZP_ERROR_UNKNOWN_INSTANCE},
        {"adding through a handle of a free generation", vzp_add(publisher_, h + (1ULL << 32), 0, 1),
         VZP_ERROR_UNKNOWN_INSTANCE},
        {"adding through a null publisher", vzp_add(nullptr, h, 0, 1), VZP_ERROR_INVALID_ARGUMENT},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
    EXPECT_EQ(none, 0u);
    EXPECT_EQ(Word(record, 20), 0xFFFFFFFFu);
    EXPECT_EQ(Word(record, 24), 0x3456789Au);
    EXPECT_EQ(Word(record, 0), 56u);      // 32 + 2 * 9, aligned to 8 for the 64-bit value
    EXPECT_EQ(Word(record + 56, 0), 0u);  // no second record was made

    // Adds wrap modulo the counter's size, both ways.
    ASSERT_EQ(vzp_add(publisher_, h, 0, 2), VZP_OK);
    ASSERT_EQ(vzp_add(publisher_, h, 1, -0x123456789BLL), VZP_OK);
    ASSERT_EQ(vzp_add(publisher_, h, 2, 0), VZP_OK);
    EXPECT_EQ(Word(record, 20), 1u);
    EXPECT_EQ(Word(record, 24), 0xFFFFFFFFu);
    EXPECT_EQ(Word(record, 28), 0xFFFFFFFFu);
    ASSERT_EQ(vzp_add(publisher_, h, 0, -2), VZP_OK);
    ASSERT_EQ(vzp_add(publisher_, h, 1, 0x100000002LL), VZP_OK);
    EXPECT_EQ(Word(record, 20), 0xFFFFFFFFu);
    EXPECT_EQ(Word(record, 24), 1u);
    EXPECT_EQ(Word(record, 28), 1u);
}

TEST_F(PublisherTest, DescriptionsThatCannotBePublishedAreRefused) {
    vzp_counter text = {"text", 0x00000B00u /* PERF_SIZE_VARIABLE_LEN */, 100, 0};
    vzp_counter unnamed = {"", VZP_RAWCOUNT, 100, 0};
    const struct {
        const char* what;
        void (*change)(vzp_object&, vzp_counter*, vzp_counter*);
        vzp_status want;
    } cases[] = {
        {"no counters", [](vzp_object& o, vzp_counter*, vzp_counter*) { o.counter_count = 0; },
         VZP_ERROR_BAD_DESCRIPTION},
        {"default counter 16 of 16",
         [](vzp_object& o, vzp_counter*, vzp_counter*) { o.default_counter = 16; },
         VZP_ERROR_BAD_DESCRIPTION},
        {"no room for a name beside its terminator",
         [](vzp_object& o, vzp_counter*, vzp_counter*) { o.max_instance_name_length = 1; },
         VZP_ERROR_BAD_DESCRIPTION},
        {"a text counter", [](vzp_object& o, vzp_counter* t, vzp_counter*) { o.counters = t; o.counter_count = 1; },
         VZP_ERROR_BAD_DESCRIPTION},
        {"an unnamed counter",
         [](vzp_object& o, vzp_counter*, vzp_counter* u) { o.counters = u; o.counter_count = 1; },
         VZP_ERROR_BAD_DESCRIPTION},
        {"an unnamed object", [](vzp_object& o, vzp_counter*, vzp_counter*) { o.name = ""; },
         VZP_ERROR_BAD_DESCRIPTION},
        {"a record larger than a block",
         [](vzp_object& o, vzp_counter*, vzp_counter*) { o.max_instance_name_length = 1024 * 2; },
         VZP_ERROR_BAD_DESCRIPTION},
        {"no VZP_OBJECT_INIT", [](vzp_object& o, vzp_counter*, vzp_counter*) { o.struct_size = 0; },
         VZP_ERROR_INVALID_ARGUMENT},
        {"an object of a newer header",
         [](vzp_object& o, vzp_counter*, vzp_counter*) { o.struct_size = sizeof o + 8; },
         VZP_ERROR_INVALID_ARGUMENT},
        {"counters of a newer header",
         [](vzp_object& o, vzp_counter*, vzp_counter*) { o.counter_size = sizeof(vzp_counter) + 8; },
         VZP_ERROR_INVALID_ARGUMENT},
        {"counters shorter than the first sized header's",
         [](vzp_object& o, vzp_counter*, vzp_counter*) { o.counter_size = 8; },
         VZP_ERROR_INVALID_ARGUMENT},
    };
    for (const auto& c : cases) {
        vzp_object object = qvsim::ServerStatisticsObject();
        c.change(object, &text, &unnamed);
        vzp_publisher* publisher = nullptr;
        EXPECT_EQ(vzp_open(application_.c_str(), &object, &publisher), c.want) << c.what;
        EXPECT_EQ(publisher, nullptr) << c.what;
    }
    emu::SetAllocationGranularityValue(1024);  // map and one record do not fit
    vzp_publisher* publisher = nullptr;
    EXPECT_EQ(vzp_open(application_.c_str(), &object_, &publisher), VZP_ERROR_BAD_DESCRIPTION);
    for (const char* application : {"", "Back\\slash", static_cast<const char*>(nullptr)})
        EXPECT_EQ(vzp_open(application, &object_, &publisher), VZP_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(vzp_open(std::string(201, 'a').c_str(), &object_, &publisher),
              VZP_ERROR_INVALID_ARGUMENT);
}

TEST_F(PublisherTest, SecondPublisherIsRefusedAndTheFirstStaysReadable) {
    Open();
    Add("first");
    ReaderView block(BlockName(0), 4096);
    const std::vector<BYTE> before(block.bytes(), block.bytes() + 4096);
    vzp_publisher* second = nullptr;
    EXPECT_EQ(vzp_open(application_.c_str(), &object_, &second), VZP_ERROR_ALREADY_PUBLISHED);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(std::vector<BYTE>(block.bytes(), block.bytes() + 4096), before);
    TestMonitor monitor(Wide(application_));
    EXPECT_EQ(monitor.CollectNames(), std::vector<std::u16string>{u"first"});
    try {
        vudozid::Publisher third(application_, object_);
        ADD_FAILURE() << "a third publisher was opened";
    } catch (const vudozid::ProviderError& error) {
        EXPECT_EQ(error.status(), VZP_ERROR_ALREADY_PUBLISHED);
        EXPECT_NE(std::string(error.what()).find("already publishing"), std::string::npos);
    }
    // Once the first closes, the name is free again.
    ASSERT_EQ(vzp_close(publisher_), VZP_OK);
    publisher_ = nullptr;
    Open();
}

TEST_F(PublisherTest, ClosingFreesTheRecordsForAReaderThatKeepsTheBlocks) {
    {
        vudozid::Publisher publisher(application_, object_);
        const vzp_instance a = publisher.AddInstance("one");
        publisher.AddInstance("two");
        publisher.SetAll(a, std::vector<std::uint64_t>(16, 5));
        TestMonitor monitor(Wide(application_));
        EXPECT_EQ(monitor.CollectNames(), (std::vector<std::u16string>{u"one", u"two"}));
        publisher.Close();
        EXPECT_TRUE(monitor.CollectNames().empty());
        EXPECT_THROW(publisher.AddInstance("three"), vudozid::ProviderError);
    }
}

// A publisher killed without closing leaves its blocks behind; the next one
// starts at once and writes into the blocks a reader still holds.
TEST_F(PublisherTest, KilledPublisherNeitherBlocksNorStrandsAReader) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a test that died
        // 40 records of 212 bytes fill three blocks of 4096 bytes.
        vzp_publisher* publisher = nullptr;
        vzp_instance instance = 0;
        bool added = vzp_open(application_.c_str(), &object_, &publisher) == VZP_OK;
        for (int i = 0; added && i < 40; ++i)
            added = vzp_add_instance(publisher, ("before" + std::to_string(i)).c_str(), &instance) == VZP_OK;
        if (added) (void)!write(ready[1], "r", 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    TestMonitor monitor(Wide(application_));
    EXPECT_EQ(monitor.CollectNames().size(), 40u);
    EXPECT_NE(ReaderView(BlockName(2), 4096).bytes(), nullptr);
    vzp_publisher* refused = nullptr;
    EXPECT_EQ(vzp_open(application_.c_str(), &object_, &refused), VZP_ERROR_ALREADY_PUBLISHED);

    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    Open();
    Add("after");
    EXPECT_EQ(monitor.CollectNames(), std::vector<std::u16string>{u"after"});
    // The dead publisher's further blocks are gone: no reader opens them again.
    EXPECT_EQ(ReaderView(BlockName(1), 4096).bytes(), nullptr);
    EXPECT_EQ(ReaderView(BlockName(2), 4096).bytes(), nullptr);
    TestMonitor newReader(Wide(application_));
    EXPECT_EQ(newReader.CollectNames(), std::vector<std::u16string>{u"after"});
}

// A block or claim that exists and is not this account's own is refused, and
// nothing is written into it: one another uid made (a child that turns into
// nobody creates it), or one its group or others may write.
TEST_F(PublisherTest, SquattedBlocksAndClaimsAreRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "making an object of another uid needs root";
    const std::u16string claim = u"Global\\ATLPERF_" + Wide(application_) + u"_publisher";
    const struct {
        const char* what;
        std::u16string name;
        bool otherUid;
        bool whenAdding;  // the squatted block is block 1, met by the add that spills
    } cases[] = {
        {"block 0 of another uid", BlockName(0), true, false},
        {"block 0 writable by others", BlockName(0), false, false},
        {"the claim of another uid", claim, true, false},
        {"the claim writable by its group", claim, false, false},
        {"block 1 of another uid", BlockName(1), true, true},
    };
    for (const auto& c : cases) {
        char object[emu::kMaxObjectName];
        ASSERT_TRUE(emu::FormatSharedMemoryObjectName(c.name.c_str(), object, sizeof object));
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (c.otherUid && setuid(65534) != 0) _exit(2);
            const int fd = shm_open(object, O_RDWR | O_CREAT | O_EXCL, 0644);
            _exit(fd >= 0 && (c.otherUid || fchmod(fd, c.name == claim ? 0664 : 0666) == 0) ? 0 : 3);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_EQ(status, 0) << c.what;
        vzp_publisher* publisher = nullptr;
        vzp_status opened = vzp_open(application_.c_str(), &object_, &publisher);
        vzp_status refused = opened;
        for (int i = 0; c.whenAdding && opened == VZP_OK && refused == VZP_OK && i < 40; ++i) {
            vzp_instance instance = 0;
            refused = vzp_add_instance(publisher, "spill", &instance);
        }
        EXPECT_EQ(refused, VZP_ERROR_NOT_OWNER) << c.what;
        EXPECT_EQ(opened, c.whenAdding ? VZP_OK : VZP_ERROR_NOT_OWNER) << c.what;
        vzp_close(publisher);
        struct stat info {};
        const int fd = shm_open(object, O_RDONLY, 0);
        EXPECT_TRUE(fd >= 0 && fstat(fd, &info) == 0 && info.st_size == 0) << c.what << ": written";
        if (fd >= 0) close(fd);
        shm_unlink(object);
    }
}

// VZP_ERROR_SYSTEM says which call failed and why: here the block cannot grow
// past a file-size limit.
TEST_F(PublisherTest, SystemErrorsNameTheFailedCall) {
    struct rlimit before;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    struct rlimit small = before;
    small.rlim_cur = 1024;
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    vzp_publisher* publisher = nullptr;
    const vzp_status status = vzp_open(application_.c_str(), &object_, &publisher);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(status, VZP_ERROR_SYSTEM);
    char text[64];
    EXPECT_EQ(vzp_last_system_error(text, sizeof text), static_cast<uint32_t>(EFBIG));
    EXPECT_STREQ(text, "ftruncate: File too large");
    char cut[10];
    EXPECT_EQ(vzp_last_system_error(cut, sizeof cut), static_cast<uint32_t>(EFBIG));
    EXPECT_STREQ(cut, "ftruncate");
    EXPECT_EQ(vzp_last_system_error(nullptr, 0), static_cast<uint32_t>(EFBIG));
    EXPECT_STREQ(vudozid::ProviderError(VZP_ERROR_SYSTEM).what(),
                 "a system call failed (vzp_last_system_error tells which and why): "
                 "ftruncate: File too large");
    Open();  // a call without a failing system call clears it
    EXPECT_EQ(vzp_last_system_error(text, sizeof text), 0u);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(vzp_version(), VZP_VERSION);
    EXPECT_EQ(VZP_VERSION, VZP_MAKE_VERSION(VZP_VERSION_MAJOR, VZP_VERSION_MINOR, VZP_VERSION_PATCH));
}

TEST(StatusMessages, EveryCodeHasItsOwnSentence) {
    std::vector<std::string> seen;
    for (vzp_status status = VZP_OK; status <= VZP_ERROR_NOT_OWNER; ++status) {
        const std::string message = vzp_status_message(status);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), message), 0) << status;
        seen.push_back(message);
    }
    EXPECT_STREQ(vzp_status_message(-1), "unknown status code");
    EXPECT_STREQ(vzp_status_message(VZP_ERROR_NOT_OWNER + 1), "unknown status code");
}

}  // namespace
