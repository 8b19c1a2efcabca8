// The provider SDK seen from outside: its C interface, the bytes of its blocks
// as another process maps them, and what the library's exports make of them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "collect/perf_exports.h"
#include "common/emulated_machine.h"
#include "common/perflib_seed.h"
#include "common/shm_fixture.h"
#include "platform/emulated/emulated_control.h"
#include "reader/perf_decoder.h"
#include "server_statistics.h"
#include "vudozid_provider.hpp"

namespace vz {
namespace {

constexpr DWORD kBlockSize = 4096;
const DWORD kRecordSize = test::InstanceRecordLayout{}.recordSize;  // the server's object: 212
const std::u16string kApplication = Utf8ToUtf16(qvsim::kApplication);

DWORD Word(const test::Bytes& bytes, std::size_t at) {
    return at + 4 <= bytes.size() ? test::Get<DWORD>(bytes.data(), at) : 0xDEADBEEFu;
}

// Block `number` as a reader maps it now; empty when no reader can open it.
test::Bytes ReadBlock(DWORD number) {
    const std::u16string name = test::BlockName(kApplication, number);
    plat::HANDLE mapping = plat::OpenFileMappingW(plat::FILE_MAP_READ, 0, name.c_str());
    const auto* view = static_cast<const BYTE*>(
        mapping != nullptr ? plat::MapViewOfFileEx(mapping, plat::FILE_MAP_READ, 0, 0, kBlockSize, nullptr) : nullptr);
    const test::Bytes bytes = view != nullptr ? test::Bytes(view, view + kBlockSize) : test::Bytes();
    if (view != nullptr) plat::UnmapViewOfFile(view);
    if (mapping != nullptr) plat::CloseHandle(mapping);
    return bytes;
}

// The instance names of one collection through the library's exports, which
// must keep perflib's contract.
std::vector<std::string> CollectNames() {
    std::vector<unsigned char> buffer;
    const qvperf::CollectCall call = qvperf::CallCollect(CollectPerfMon, u"Global", 1 << 16, 0, &buffer);
    EXPECT_EQ(qvperf::CheckCollectCall(call), std::vector<std::string>());
    const qvperf::DecodeResult decoded = qvperf::DecodePerfData(buffer.data(), call.totalBytes, call.objectsAfter);
    std::vector<std::string> names;
    for (const qvperf::PerfObject& object : decoded.objects)
        for (const qvperf::Instance& instance : object.instances) names.push_back(instance.name);
    return names;
}

// The server's object, in blocks of 4096 bytes.
class PublisherTest : public ::testing::Test {
protected:
    void SetUp() override { test::ResetMachine(kBlockSize); }
    void TearDown() override {
        vzp_close(publisher_);
        ClosePerfMon();
    }
    void Open() { ASSERT_EQ(vzp_open(qvsim::kApplication, &object_, &publisher_), VZP_OK); }
    vzp_instance Add(const std::string& name) {
        vzp_instance instance = 0;
        EXPECT_EQ(vzp_add_instance(publisher_, name.c_str(), &instance), VZP_OK) << name;
        return instance;
    }
    static std::size_t InstanceArea() {
        return InstanceAreaOffsetFor(Word(ReadBlock(0), kMapSizeOffset));
    }

    vzp_object object_ = qvsim::ServerStatisticsObject();
    vzp_publisher* publisher_ = nullptr;
};

// Block 0 holds the map, numbered from the registered title indices, its
// number and the records, then the end of all data; a full block ends with a
// mark, its records go on in the next, and the reader follows them.
TEST_F(PublisherTest, BlocksHoldTheMapTheirNumberAndTheRecords) {
    uint32_t name = 0, help = 0;
    EXPECT_EQ(vzp_registered_indices(qvsim::kApplication, &name, &help), VZP_ERROR_NOT_REGISTERED);
    test::WriteDword(test::kPerformancePath, u"First Counter", 1848);
    test::WriteDword(test::kPerformancePath, u"First Help", 1849);
    ASSERT_TRUE(vudozid::RegisteredIndices(qvsim::kApplication, object_));
    Open();
    const vzp_instance h = Add("Quorvane01");
    ASSERT_EQ(vzp_set_value(publisher_, h, 1, 7), VZP_OK);
    ASSERT_EQ(vzp_set_value(publisher_, h, 0, 96), VZP_OK);

    const test::Bytes block = ReadBlock(0);
    const test::Bytes map = test::ServerStatisticsMap(1848, true).Build(true);
    ASSERT_EQ(block.size(), kBlockSize);
    EXPECT_EQ(test::Bytes(block.begin(), block.begin() + map.size()), map);
    EXPECT_EQ(Word(block, BlockNumberOffset(map.size())), 0u);
    const std::size_t area = InstanceAreaOffsetFor(map.size());
    test::InstanceRecordLayout record;
    record.instanceId = Word(block, area + kInstanceIdOffset);
    record.name = u"Quorvane01";
    record.values = {96, 7};
    EXPECT_NE(record.instanceId, 0u);
    EXPECT_EQ(test::Bytes(block.begin() + area, block.begin() + area + kRecordSize),
              test::RecordBytes(record, kRecordSize));
    EXPECT_EQ(Word(block, area + kRecordSize), kEndOfInstances);

    const std::size_t perBlock = (kBlockSize - area - kEndMarkSize) / kRecordSize;
    std::vector<std::string> names = {"Quorvane01"};
    while (names.size() < perBlock + 2) {
        names.push_back("db" + std::to_string(names.size()));
        Add(names.back());
    }
    const test::Bytes block0 = ReadBlock(0), block1 = ReadBlock(1);
    EXPECT_EQ(Word(block0, area + perBlock * kRecordSize), kEndOfBlock);
    EXPECT_EQ(Word(block1, BlockNumberOffset(map.size())), 1u);
    EXPECT_EQ(Word(block1, area), kRecordSize);
    EXPECT_EQ(Word(block1, area + kRecordSize), kRecordSize);
    EXPECT_EQ(Word(block1, area + 2 * kRecordSize), kEndOfInstances);
    EXPECT_EQ(CollectNames(), names);
}

TEST_F(PublisherTest, FreedRecordIsReusedUnderANewIdentityAndTheOldHandleIsDead) {
    Open();
    Add("alpha");
    const vzp_instance beta = Add("beta");
    Add("gamma");
    ASSERT_EQ(vzp_set_value(publisher_, beta, 0, 55), VZP_OK);
    const std::size_t record = InstanceArea() + kRecordSize;  // beta's
    const DWORD firstId = Word(ReadBlock(0), record + kInstanceIdOffset);

    ASSERT_EQ(vzp_remove_instance(publisher_, beta), VZP_OK);
    EXPECT_EQ(Word(ReadBlock(0), record + kUseCountOffset), kFreeUseCount);
    const DWORD freedId = Word(ReadBlock(0), record + kInstanceIdOffset);
    EXPECT_NE(freedId, firstId);
    EXPECT_EQ(CollectNames(), (std::vector<std::string>{"alpha", "gamma"}));

    const vzp_instance pi = Add("pi");  // shorter: no trace of the old name may stay
    EXPECT_NE(pi, beta);
    EXPECT_GT(Word(ReadBlock(0), record + kInstanceIdOffset), freedId);
    EXPECT_EQ(Word(ReadBlock(0), record + kUseCountOffset), kLiveUseCount);
    // The removed instance's handle does not reach the new occupant, whose value starts at 0.
    EXPECT_EQ(vzp_set_value(publisher_, beta, 0, 1), VZP_ERROR_UNKNOWN_INSTANCE);
    EXPECT_EQ(vzp_remove_instance(publisher_, beta), VZP_ERROR_UNKNOWN_INSTANCE);
    EXPECT_EQ(Word(ReadBlock(0), record + kRecordHeaderSize), 0u);
    EXPECT_EQ(CollectNames(), (std::vector<std::string>{"alpha", "pi", "gamma"}));
}

// Every refused call has its own code and leaves the record as it was.
TEST_F(PublisherTest, RefusedValuesNamesAndHandlesHaveTheirOwnCodes) {
    const vzp_counter counters[3] = {{"small", VZP_RAWCOUNT, 100, 0},
                                     {"large", VZP_RAWCOUNT | VZP_COUNTER_SIZE_64, 100, 0},
                                     {"nodata", 0x40000200u /* PERF_COUNTER_NODATA */, 100, 0}};
    object_.counters = counters;
    object_.counter_count = 3;
    object_.max_instance_name_length = 9;  // eight units and the terminator
    Open();
    vzp_publisher* const p = publisher_;
    const vzp_instance h = Add("eight888");
    const std::size_t record = InstanceArea();
    const auto values = [record] {  // the 32-bit value, then the 64-bit one low word first
        const test::Bytes block = ReadBlock(0);
        const std::size_t at = record + kRecordHeaderSize;
        return std::vector<DWORD>{Word(block, at), Word(block, at + 4), Word(block, at + 8)};
    };
    ASSERT_EQ(vzp_set_value(p, h, 0, 0xFFFFFFFFu), VZP_OK);
    ASSERT_EQ(vzp_set_value(p, h, 1, 0x123456789AULL), VZP_OK);
    EXPECT_EQ(values(), (std::vector<DWORD>{0xFFFFFFFFu, 0x3456789Au, 0x12u}));

    vzp_instance none = 0;
    const uint64_t tooLarge[3] = {1ULL << 32, 1, 0};
    const uint64_t zeroCarriesNothing[3] = {1, 1, 1};
    const vzp_instance otherGeneration = h + (1ULL << 32);
    const vzp_status large = VZP_ERROR_VALUE_TOO_LARGE, unknown = VZP_ERROR_UNKNOWN_INSTANCE,
                     invalid = VZP_ERROR_INVALID_ARGUMENT, tooLong = VZP_ERROR_NAME_TOO_LONG;
    const struct {
        const char* what;
        vzp_status got, want;
    } cases[] = {
        {"2^32 in a 32-bit counter", vzp_set_value(p, h, 0, 1ULL << 32), large},
        {"a value for a zero-size counter", vzp_set_value(p, h, 2, 1), large},
        {"all values, one too large", vzp_set_all(p, h, tooLarge, 3), large},
        {"all values, the last too large", vzp_set_all(p, h, zeroCarriesNothing, 3), large},
        {"two values for three counters", vzp_set_all(p, h, tooLarge, 2), VZP_ERROR_COUNT_MISMATCH},
        {"counter 3 of 3", vzp_set_value(p, h, 3, 1), VZP_ERROR_UNKNOWN_COUNTER},
        {"handle 0", vzp_set_value(p, 0, 0, 1), unknown},
        {"a handle never given", vzp_set_value(p, h + 1, 0, 1), unknown},
        {"a handle of another generation", vzp_remove_instance(p, otherGeneration), unknown},
        {"nine characters", vzp_add_instance(p, "nine99999", &none), tooLong},
        // U+1F600 takes two UTF-16 units: eight characters, nine units.
        {"nine UTF-16 units", vzp_add_instance(p, "abcdefg\xF0\x9F\x98\x80", &none), tooLong},
        {"an empty name", vzp_add_instance(p, "", &none), VZP_ERROR_EMPTY_NAME},
        {"broken UTF-8", vzp_add_instance(p, "ab\xC3", &none), invalid},
        {"a null name", vzp_add_instance(p, nullptr, &none), invalid},
        {"a null publisher", vzp_set_value(nullptr, h, 0, 1), invalid},
        {"null values", vzp_set_all(p, h, nullptr, 3), invalid},
        {"adding 1 to a zero-size counter", vzp_add(p, h, 2, 1), large},
        {"adding to counter 3 of 3", vzp_add(p, h, 3, 1), VZP_ERROR_UNKNOWN_COUNTER},
        {"adding through a handle never given", vzp_add(p, h + 1, 0, 1), unknown},
        {"adding through a handle of another generation", vzp_add(p, otherGeneration, 0, 1), unknown},
        {"adding through a null publisher", vzp_add(nullptr, h, 0, 1), invalid},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
    EXPECT_EQ(none, 0u);
    EXPECT_EQ(values(), (std::vector<DWORD>{0xFFFFFFFFu, 0x3456789Au, 0x12u}));
    const test::Bytes block = ReadBlock(0);
    EXPECT_EQ(Word(block, record + kNameOffsetOffset), 32u);  // the zero-size counter takes none
    EXPECT_EQ(Word(block, record + kRecordSizeOffset), 56u);  // 32 + 2 * 9, aligned to 8
    EXPECT_EQ(Word(block, record + 56), kEndOfInstances);     // no second record was made

    // Adds wrap modulo the counter's size, both ways (the stress test wraps upwards under load).
    ASSERT_EQ(vzp_add(p, h, 0, 2), VZP_OK);
    ASSERT_EQ(vzp_add(p, h, 0, -4), VZP_OK);
    ASSERT_EQ(vzp_add(p, h, 1, -0x123456789BLL), VZP_OK);
    ASSERT_EQ(vzp_add(p, h, 2, 0), VZP_OK);
    EXPECT_EQ(values(), (std::vector<DWORD>{0xFFFFFFFDu, 0xFFFFFFFFu, 0xFFFFFFFFu}));
}

const vzp_counter kTextCounter = {"text", 0x00000B00u /* PERF_SIZE_VARIABLE_LEN */, 100, 0};
const vzp_counter kUnnamedCounter = {"", VZP_RAWCOUNT, 100, 0};

TEST_F(PublisherTest, DescriptionsThatCannotBePublishedAreRefused) {
    const vzp_status bad = VZP_ERROR_BAD_DESCRIPTION, invalid = VZP_ERROR_INVALID_ARGUMENT;
    const struct {
        const char* what;
        void (*change)(vzp_object&);
        vzp_status want;
    } cases[] = {
        {"no counters", [](vzp_object& o) { o.counter_count = 0; }, bad},
        {"default counter 16 of 16", [](vzp_object& o) { o.default_counter = 16; }, bad},
        {"no room for a name beside its terminator",
         [](vzp_object& o) { o.max_instance_name_length = 1; }, bad},
        {"more than 1024 units", [](vzp_object& o) { o.max_instance_name_length = 1025; }, bad},
        {"a text counter",
         [](vzp_object& o) { o.counters = &kTextCounter; o.counter_count = 1; }, bad},
        {"an unnamed counter",
         [](vzp_object& o) { o.counters = &kUnnamedCounter; o.counter_count = 1; }, bad},
        {"an unnamed object", [](vzp_object& o) { o.name = ""; }, bad},
        {"no VZP_OBJECT_INIT", [](vzp_object& o) { o.struct_size = 0; }, invalid},
        {"an object of a newer header", [](vzp_object& o) { o.struct_size = sizeof o + 8; }, invalid},
        {"counters of a newer header",
         [](vzp_object& o) { o.counter_size = sizeof(vzp_counter) + 8; }, invalid},
        {"counters shorter than the first sized header's",
         [](vzp_object& o) { o.counter_size = 8; }, invalid},
    };
    for (const auto& c : cases) {
        vzp_object object = qvsim::ServerStatisticsObject();
        c.change(object);
        EXPECT_EQ(vzp_open(qvsim::kApplication, &object, &publisher_), c.want) << c.what;
        EXPECT_EQ(publisher_, nullptr) << c.what;
    }
    test::ResetMachine(1024);  // map and one record do not fit
    EXPECT_EQ(vzp_open(qvsim::kApplication, &object_, &publisher_), bad);
    const std::string tooLong(201, 'a');
    const char* const applications[] = {"", "Back\\slash", tooLong.c_str(), nullptr};
    for (const char* application : applications)
        EXPECT_EQ(vzp_open(application, &object_, &publisher_), invalid);
}

// While one publishes, a second is refused and changes nothing; one killed
// without closing leaves its blocks behind, and the next starts at once and
// writes into the blocks a reader still holds; closing frees the records for
// that reader and the name for the next publisher.
TEST_F(PublisherTest, OnePublisherAtATimeAndAKilledOrClosedOneBlocksNothing) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a test that died
        // 40 records, 12 to a block of 4096 bytes: four blocks.
        vzp_instance instance = 0;
        bool added = vzp_open(qvsim::kApplication, &object_, &publisher_) == VZP_OK;
        for (int i = 0; added && i < 40; ++i)
            added = vzp_add_instance(publisher_, ("before" + std::to_string(i)).c_str(), &instance) == VZP_OK;
        if (added) (void)!write(ready[1], "r", 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    const test::Bytes before = ReadBlock(0);
    vzp_publisher* refused = nullptr;
    EXPECT_EQ(vzp_open(qvsim::kApplication, &object_, &refused), VZP_ERROR_ALREADY_PUBLISHED);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(ReadBlock(0), before);
    EXPECT_EQ(CollectNames().size(), 40u);
    EXPECT_EQ(ReadBlock(2).size(), kBlockSize);

    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    vudozid::Publisher next(qvsim::kApplication, object_);
    next.AddInstance("after");
    EXPECT_EQ(CollectNames(), std::vector<std::string>{"after"});
    // The dead publisher's further blocks are gone: no reader opens them again.
    EXPECT_TRUE(ReadBlock(1).empty());
    EXPECT_TRUE(ReadBlock(2).empty());

    next.Close();
    EXPECT_TRUE(CollectNames().empty());
    EXPECT_THROW(next.AddInstance("closed"), vudozid::ProviderError);
    Open();
}

// A block or claim that exists and is not this account's own is refused, and
// nothing is written into it: one another uid made (a child that turns into
// nobody creates it), or one its group or others may write.
TEST_F(PublisherTest, SquattedBlocksAndClaimsAreRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "making an object of another uid needs root";
    const std::u16string claim = u"Global\\ATLPERF_" + kApplication + u"_publisher";
    const struct {
        const char* what;
        std::u16string name;
        bool otherUid;
        bool whenAdding;  // the squatted block is block 1, met by the add that spills
    } cases[] = {
        {"block 0 of another uid", test::BlockName(kApplication, 0), true, false},
        {"block 0 writable by others", test::BlockName(kApplication, 0), false, false},
        {"the claim of another uid", claim, true, false},
        {"the claim writable by its group", claim, false, false},
        {"block 1 of another uid", test::BlockName(kApplication, 1), true, true},
    };
    for (const auto& c : cases) {
        const std::string object = emu::SharedMemoryObjectName(c.name);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (c.otherUid && setuid(65534) != 0) _exit(2);
            const int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
            _exit(fd >= 0 && (c.otherUid || fchmod(fd, c.name == claim ? 0664 : 0666) == 0) ? 0 : 3);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_EQ(status, 0) << c.what;
        vzp_publisher* publisher = nullptr;
        vzp_status opened = vzp_open(qvsim::kApplication, &object_, &publisher);
        vzp_status refused = opened;
        for (int i = 0; c.whenAdding && opened == VZP_OK && refused == VZP_OK && i < 40; ++i) {
            vzp_instance instance = 0;
            refused = vzp_add_instance(publisher, "spill", &instance);
        }
        EXPECT_EQ(refused, VZP_ERROR_NOT_OWNER) << c.what;
        EXPECT_EQ(opened, c.whenAdding ? VZP_OK : VZP_ERROR_NOT_OWNER) << c.what;
        vzp_close(publisher);
        struct stat info {};
        const int fd = shm_open(object.c_str(), O_RDONLY, 0);
        EXPECT_TRUE(fd >= 0 && fstat(fd, &info) == 0 && info.st_size == 0) << c.what << ": written";
        if (fd >= 0) close(fd);
        shm_unlink(object.c_str());
    }
}

// VZP_ERROR_SYSTEM says which call failed and why: here the block cannot grow
// past a file-size limit. Every status has a sentence of its own.
TEST_F(PublisherTest, SystemErrorsNameTheFailedCallAndEveryStatusHasItsMessage) {
    struct rlimit before;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    struct rlimit small = before;
    small.rlim_cur = 1024;
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const vzp_status status = vzp_open(qvsim::kApplication, &object_, &publisher_);
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

    std::vector<std::string> seen;  // every status code has its own sentence
    for (vzp_status status = VZP_OK; status <= VZP_ERROR_NOT_OWNER; ++status) {
        const std::string message = vzp_status_message(status);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), message), 0) << status;
        seen.push_back(message);
    }
    EXPECT_STREQ(vzp_status_message(-1), "unknown status code");
    EXPECT_STREQ(vzp_status_message(VZP_ERROR_NOT_OWNER + 1), "unknown status code");
}

}  // namespace
}  // namespace vz
