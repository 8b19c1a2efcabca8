// make_fuzz_seeds CORPUS_DIR REGRESSION_DIR: the fuzz targets' seeds in the real
// formats. The provider SDK publishes its chain, the blocks are copied out as it
// left them, and the library's Collect output over them becomes qvperf's input.
// Inputs that break perflib's contract on today's library are regressions.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "collect/perf_exports.h"
#include "common/layout_builder.h"
#include "common/emulated_machine.h"
#include "platform/platform.h"
#include "support/utf_text.h"
#include "map_description.h"
#include "server_statistics.h"
#include "statistics_publisher.h"

namespace {

using namespace vz;
using test::Bytes;

constexpr char16_t kApplication[] = u"Quorvane Server ITA";

std::string g_corpus, g_regressions;

void Write(const std::string& dir, const std::string& target, const std::string& name,
           const Bytes& bytes) {
    std::filesystem::create_directories(dir + "/" + target);
    std::ofstream(dir + "/" + target + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

[[noreturn]] void Fail(const char* why) {
    std::fprintf(stderr, "make_fuzz_seeds: %s\n", why);
    std::exit(1);
}

// The server's object as the simulator describes it, under the title indices
// registration hands out: name 1848, help 1849, ...
provider::MapDescription ServerStatistics() {
    vzp_object object = qvsim::ServerStatisticsObject();
    object.first_name_index = 1848;
    object.first_help_index = 1849;
    provider::MapDescription map;
    if (provider::DescribeObject(object, &map) != VZP_OK) Fail("the server's object is refused");
    return map;
}

// A category without instances (id 7, detail level 100) with a LARGE counter,
// an ASCII and a UTF-16 text counter and a zero-size one, registered like the
// server's. Counter entries: id, detail level, type, characters, data offset,
// scale, name and help index.
provider::MapDescription MixedCounters() {
    provider::CategoryDescription category{
        {7, 100, 0, 0xFFFFFFFFu, 20 + 8 + 12 + 16 + 4, 8, 1848, 1849}, u"Quorvane Totali", {}};
    category.counters = {{{0, 100, 0x00010100, 0, 20, 0, 1850, 1851}, u"Valore A"},
                         {{0, 100, 0x00010300 | 0x10000, 12, 28, 0, 1852, 1853}, u"Valore B"},
                         {{0, 100, 0x00000300, 8, 40, 0, 1854, 1855}, u"Valore C"},
                         {{0, 100, 0x40000200, 0, 56, 0, 1856, 1857}, u"Valore D"}};
    return {category};
}

struct Chain {
    std::vector<Bytes> blocks;
    Bytes collected;  // the library's Collect output over the blocks
    DWORD objects = 0;
};

// Publishes `map` with `live` instances of its first category (and `freed`
// more that are removed again) in blocks of `granularity`, and copies it out.
Chain Publish(const provider::MapDescription& map, DWORD granularity, int live, int freed) {
    test::ResetMachine(granularity);
    ClosePerfMon();
    Chain chain;
    provider::StatisticsPublisher publisher(kApplication, map);
    if (publisher.Start() != VZP_OK) Fail("the provider cannot publish");
    std::vector<provider::InstanceHandle> handles(live + freed);
    for (int i = 0; i < live + freed; ++i) {
        // An object without instances refuses; its chain is the seed then.
        static_cast<void>(publisher.AddInstance(map[0].entry.id, u"Quorvane0" + test::Decimal(i + 1), &handles[i]));
        // Text and zero-size counters refuse a number; they keep their zeros.
        for (DWORD c = 0; c < map[0].counters.size(); ++c)
            static_cast<void>(publisher.SetValue(handles[i], c, 100 + i));
    }
    for (int i = 0; i < freed; ++i) static_cast<void>(publisher.RemoveInstance(handles[live + i]));
    for (DWORD k = 0;; ++k) {
        const std::u16string name = provider::BlockName(kApplication, k);
        plat::HANDLE mapping = plat::OpenFileMappingW(plat::FILE_MAP_READ, 0, name.c_str());
        if (mapping == nullptr) break;
        const auto* bytes = static_cast<const std::uint8_t*>(
            plat::MapViewOfFileEx(mapping, plat::FILE_MAP_READ, 0, 0, granularity, nullptr));
        // Trailing zeros are what the fuzz target fills in anyway.
        std::size_t used = granularity;
        while (used > 0 && bytes[used - 1] == 0) --used;
        chain.blocks.emplace_back(bytes, bytes + used);
        plat::UnmapViewOfFile(bytes);
        plat::CloseHandle(mapping);
    }
    Bytes buffer(1 << 16);
    void* data = buffer.data();
    DWORD total = static_cast<DWORD>(buffer.size());
    CollectPerfMon(u"Global", &data, &total, &chain.objects);
    chain.collected.assign(buffer.begin(), buffer.begin() + total);
    ClosePerfMon();
    return chain;
}

// sample_path's input: flags, granularity, capacity, query, operations, blocks.
Bytes SamplePathInput(const Chain& chain, DWORD granularity, const Bytes& operations) {
    Bytes input;
    input.push_back(static_cast<std::uint8_t>(chain.blocks.size() - 1));
    input.push_back(granularity == 1024 ? 0 : granularity == 2048 ? 1 : 2);
    test::Put<DWORD>(input, input.size(), 0xFFFF);
    input.push_back(0);  // "Global"
    input.push_back(static_cast<std::uint8_t>(operations.size() - 1));
    input.insert(input.end(), operations.begin(), operations.end());
    for (std::size_t k = 0; k < chain.blocks.size(); ++k) {
        Bytes block = chain.blocks[k];
        if (k + 1 < chain.blocks.size()) block.resize(granularity, 0);
        input.insert(input.end(), block.begin(), block.end());
    }
    return input;
}

void SamplePathSeeds() {
    const Bytes collectTwice = {0, 2, 1, 0};  // Collect, one byte short, Close, Collect
    const provider::MapDescription server = ServerStatistics();
    Write(g_corpus, "sample_path", "server_one_block",
          SamplePathInput(Publish(server, 4096, 3, 0), 4096, collectTwice));
    Write(g_corpus, "sample_path", "server_four_blocks",
          SamplePathInput(Publish(server, 2048, 9, 1), 2048, collectTwice));
    const provider::MapDescription mixed = MixedCounters();
    Write(g_corpus, "sample_path", "no_instances_mixed_counters",
          SamplePathInput(Publish(mixed, 1024, 1, 0), 1024, collectTwice));
    // A category without instances gets exactly one counter block, also when
    // its only record is free or when two records are live.
    Write(g_regressions, "sample_path", "no_instances_free_record",
          SamplePathInput(Publish(mixed, 1024, 0, 1), 1024, {0}));
    Write(g_regressions, "sample_path", "no_instances_two_records",
          SamplePathInput(Publish(mixed, 1024, 2, 0), 1024, {0}));
}

void RegisteredMapSeeds() {
    for (const auto& [name, map] :
         {std::pair<std::string, provider::MapDescription>{"server_statistics", ServerStatistics()},
          {"no_instances_mixed_counters", MixedCounters()}}) {
        Bytes input = provider::SerializeMap(map);
        input.insert(input.begin(), {0, 0});  // REG_BINARY, room enough
        Write(g_corpus, "registered_map", name, input);
    }
}

Bytes Utf16(const std::u16string& text) {
    Bytes bytes;
    for (char16_t c : text) bytes.insert(bytes.end(), {std::uint8_t(c), std::uint8_t(c >> 8)});
    return bytes;
}

// The published object's name and counter names under registration's indices from 1848.
test::PairList ObjectNames() {
    test::PairList names = {{test::Decimal(1848), Utf8ToUtf16(quorvane::kObjectName)}};
    for (std::size_t i = 0; i < quorvane::kCounterCount; ++i)
        names.emplace_back(test::Decimal(1848 + quorvane::TitleOffsetOf(i)), Utf8ToUtf16(quorvane::kCounters[i].name));
    return names;
}

void RegistrationSeeds() {
    Write(g_corpus, "registration", "register", {0});
    Write(g_corpus, "registration", "register_unregister", {2});
    // Registered before, in Italian: the performance key's values as
    // registration wrote them (places 8.. of the target's table).
    // Types by their place in the target's type list.
    const std::uint8_t kDwordType = 4, kMultiStringType = 5;
    Bytes input = {3};
    auto record = [&](std::uint8_t place, std::uint8_t type, const Bytes& bytes) {
        input.insert(input.end(), {place, type});
        test::Put(input, input.size(), static_cast<std::uint16_t>(bytes.size()));
        input.insert(input.end(), bytes.begin(), bytes.end());
    };
    const DWORD last = 1848 + quorvane::TitleOffsetOf(quorvane::kCounterCount - 1);
    record(8, kMultiStringType, Utf16(std::u16string(u"010\0", 5)));  // Languages
    // First Counter, First Help, Last Counter, Last Help.
    const DWORD ranges[] = {1848, 1849, last, last + 1};
    for (std::uint8_t i = 0; i < 4; ++i) {
        const auto* word = reinterpret_cast<const std::uint8_t*>(&ranges[i]);
        record(9 + i, kDwordType, Bytes(word, word + 4));
    }
    record(4, kMultiStringType, Utf16(test::EncodePairs({{u"1", test::Decimal(last + 1)}, ObjectNames()[0]})));
    Write(g_corpus, "registration", "registered_italian", input);
}

void QvperfSeeds() {
    const Chain chain = Publish(ServerStatistics(), 4096, 2, 0);
    Bytes pairs = Utf16(test::EncodePairs(ObjectNames()));
    while (pairs.size() % 4 != 0) pairs.push_back(0);
    const std::string path = std::string("\\") + quorvane::kObjectName + "(Quorvane01)\\" +
                             quorvane::kCounters[4].name;
    Bytes input = {static_cast<std::uint8_t>(chain.objects), static_cast<std::uint8_t>(pairs.size() / 4),
                   static_cast<std::uint8_t>(path.size())};
    input.insert(input.end(), pairs.begin(), pairs.end());
    input.insert(input.end(), path.begin(), path.end());
    input.insert(input.end(), chain.collected.begin(), chain.collected.end());
    Write(g_corpus, "qvperf_inputs", "server_two_instances", input);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_fuzz_seeds CORPUS_DIR REGRESSION_DIR\n");
        return 2;
    }
    g_corpus = argv[1];
    g_regressions = argv[2];
    setenv("VUDOZID_SHM_NAMESPACE", ("seeds" + std::to_string(getpid())).c_str(), 1);
    SamplePathSeeds();
    RegisteredMapSeeds();
    RegistrationSeeds();
    QvperfSeeds();
    return 0;
}
