// Merging the object's seventeen texts into, and removing them from, a pair
// list of 50,000 pairs (about 2 MB), beside a plain copy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "registration/pair_list.h"

namespace {

using vz::DWORD;
using vz::WString;

constexpr DWORD kPairs = 50000;
constexpr DWORD kFirst = 50002;  // the object's range sits in the middle of the list
constexpr DWORD kLast = kFirst + 32;

// Indices 2, 4, ... with a help-sized text each, the object's old pairs included.
std::u16string MakeList() {
    std::u16string list;
    const std::u16string text =
        u"Shows the rate at which the system works through its requests, per second.";
    for (DWORD k = 1; k <= kPairs; ++k) {
        std::string index = std::to_string(2 * k);
        list.append(index.begin(), index.end());
        list.push_back(0);
        list += text;
        list.push_back(0);
    }
    list.push_back(0);
    return list;
}

std::vector<WString> MakeTexts() {
    std::vector<WString> texts;
    for (int k = 0; k < 17; ++k) texts.emplace_back(u"Tempo di attesa di una chiamata remota");
    return texts;
}

std::size_t Room(const std::vector<WString>& texts) {
    std::size_t room = 0;
    for (const WString& text : texts) room += text.Length() + 7;
    return room;
}

void BM_CopyList(benchmark::State& state) {
    const std::u16string list = MakeList();
    const std::size_t room = Room(MakeTexts());
    std::vector<char16_t> out(list.size() + room);
    for (auto _ : state) {
        std::memcpy(out.data(), list.data(), list.size() * sizeof(char16_t));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * list.size() * sizeof(char16_t));
}

void BM_MergeList(benchmark::State& state) {
    const std::u16string list = MakeList();
    const std::vector<WString> texts = MakeTexts();
    std::vector<char16_t> out(list.size() + Room(texts));
    for (auto _ : state) {
        std::size_t written = vz::MergePairList(list.data(), list.size(), texts.data(),
                                                texts.size(), kFirst, kLast, out.data(),
                                                out.size());
        benchmark::DoNotOptimize(written);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * list.size() * sizeof(char16_t));
}

void BM_RemoveRange(benchmark::State& state) {
    const std::u16string list = MakeList();
    std::vector<char16_t> work(list.size());
    for (auto _ : state) {
        // Each round works on the list as read: the copy stands for the read.
        std::memcpy(work.data(), list.data(), list.size() * sizeof(char16_t));
        std::size_t used = vz::RemovePairRange(work.data(), work.size(), kFirst, kLast);
        benchmark::DoNotOptimize(used);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * list.size() * sizeof(char16_t));
}

BENCHMARK(BM_CopyList);
BENCHMARK(BM_MergeList);
BENCHMARK(BM_RemoveRange);

}  // namespace
