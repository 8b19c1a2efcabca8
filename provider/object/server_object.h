// The object the Quorvane database server publishes, "Quorvane Server 11",
// described once for everything outside the library: the simulator publishes
// it, the exporter names its metrics after it, the tests and fuzz seeds build
// its map, records and title texts from it. The library builds the same object
// from its own resources (objectmap/perfmon_ita.cpp, resources/string_table.txt);
// a test checks that the two agree counter by counter.
//
// Header-only and free of the library's and the SDK's headers, so that the
// provider side, the tools and the tests can all use it.
#pragma once
#include <cstddef>
#include <cstdint>

namespace quorvane {

// How the exporter turns a counter's value into its metric's base unit.
enum class MetricScale {
    kAsIs,              // counts, calls per second, times whose unit the server does not say
    kPercentToRatio,    // percent 0..100 -> ratio 0..1
    kKilobytesToBytes,  // KB/sec -> bytes/sec (1 KB = 1024 bytes)
};

struct PublishedCounter {
    std::uint32_t dataOffset;    // of its value in the instance record
    std::uint32_t counterType;   // perflib counter type
    std::uint32_t nameResource;  // string-table ids of its display name and help text
    std::uint32_t helpResource;
    const char* name;            // its display name (UTF-8), the string table's text
    const char* metric;          // the exporter's metric name, fixed in every language
    const char* kind;            // value of the metric's label `kind`, or nullptr
    MetricScale scale;
};

constexpr std::uint32_t kRawCount = 0x00010000;  // PERF_COUNTER_RAWCOUNT: 32-bit, shown as is
constexpr std::uint32_t kDetailNovice = 100;     // PERF_DETAIL_NOVICE

constexpr const char* kApplication = "Quorvane Server ITA";  // names the blocks and the service
constexpr const char* kObjectName = "Quorvane Server 11";
constexpr std::uint32_t kObjectId = 4;
constexpr std::uint32_t kObjectNameResource = 101;
constexpr std::uint32_t kObjectHelpResource = 102;
constexpr std::uint32_t kMaxInstanceNameLength = 64;  // UTF-16 units, terminator included

// In the object's order. The server computes every value itself: percentages
// 0..100, throughput in KB per second, calls per second, and times per call in
// a unit it does not name (so none is invented for their metrics). The four
// client counters share one metric.
constexpr PublishedCounter kCounters[] = {
    {20, kRawCount, 103, 104, "Accessi alla cache %", "quorvane_cache_hit_ratio", nullptr,
     MetricScale::kPercentToRatio},
    {24, kRawCount, 105, 106, "% Cache non salvata", "quorvane_cache_unsaved_ratio", nullptr,
     MetricScale::kPercentToRatio},
    {28, kRawCount, 107, 108, "Lettura KB/sec disco", "quorvane_disk_read_bytes_per_second",
     nullptr, MetricScale::kKilobytesToBytes},
    {32, kRawCount, 129, 130, "Scrittura KB/sec disco", "quorvane_disk_written_bytes_per_second",
     nullptr, MetricScale::kKilobytesToBytes},
    {36, kRawCount, 109, 110, "Database aperti", "quorvane_open_databases", nullptr,
     MetricScale::kAsIs},
    {40, kRawCount, 111, 112, "Client Quorvane Pro", "quorvane_connected_clients", "quorvane_pro",
     MetricScale::kAsIs},
    {44, kRawCount, 113, 114, "Ingresso KB/sec rete", "quorvane_network_received_bytes_per_second",
     nullptr, MetricScale::kKilobytesToBytes},
    {48, kRawCount, 131, 132, "Uscita KB/sec rete", "quorvane_network_sent_bytes_per_second",
     nullptr, MetricScale::kKilobytesToBytes},
    {52, kRawCount, 115, 116, "Client ODBC/JDBC", "quorvane_connected_clients", "odbc_jdbc",
     MetricScale::kAsIs},
    {56, kRawCount, 117, 118, "Client Velopress", "quorvane_connected_clients", "velopress",
     MetricScale::kAsIs},
    {60, kRawCount, 119, 120, "Client Formweave", "quorvane_connected_clients", "formweave",
     MetricScale::kAsIs},
    {64, kRawCount, 121, 122, "Chiamate remote/sec", "quorvane_remote_calls_per_second", nullptr,
     MetricScale::kAsIs},
    {68, kRawCount, 133, 134, "Chiamate remote in corso", "quorvane_remote_calls_in_progress",
     nullptr, MetricScale::kAsIs},
    {72, kRawCount, 123, 124, "Tempo trascorso/chiamata", "quorvane_remote_call_elapsed_time",
     nullptr, MetricScale::kAsIs},
    {76, kRawCount, 125, 126, "Tempo di attesa/chiamata", "quorvane_remote_call_wait_time",
     nullptr, MetricScale::kAsIs},
    {80, kRawCount, 127, 128, "Tempo IO/chiamata", "quorvane_remote_call_io_time", nullptr,
     MetricScale::kAsIs},
};
constexpr std::size_t kCounterCount = sizeof kCounters / sizeof kCounters[0];

// The record's header (20 bytes) and the values, back to back.
constexpr std::uint32_t kRecordHeaderSize = 20;
constexpr std::uint32_t kInstanceDataSize = kRecordHeaderSize + 4 * kCounterCount;

// Registration numbers the object's name and help texts and then its
// counters' in steps of 2, in the object's order: a counter's name title index
// less the object's is what identifies it in perflib's data.
constexpr std::uint32_t kTitleIndexStep = 2;
constexpr std::uint32_t TitleOffsetOf(std::size_t place) {
    return kTitleIndexStep * (static_cast<std::uint32_t>(place) + 1);
}

constexpr bool ValuesBackToBack() {
    for (std::size_t i = 0; i < kCounterCount; ++i)
        if (kCounters[i].dataOffset != kRecordHeaderSize + 4 * i) return false;
    return true;
}
static_assert(ValuesBackToBack(), "32-bit values follow the record header in the object's order");

}  // namespace quorvane
