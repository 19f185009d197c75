// Load and save of a large set: 200 songs x 12 sections x 4 steps, 4 Moments per section, 16 layers
// with 4 rules each. Reports the file size and MB/s for the codec alone and through the store.

#include "model/setlist_codec.h"
#include "model/store.h"
#include "support/large_set.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <unistd.h>

using namespace strata;
using strata::testing::largeSet;
namespace fs = std::filesystem;

namespace {

const Setlist& theSet() {
    static const Setlist set = largeSet();
    return set;
}
const std::string& theBytes() {
    static const std::string bytes = *encodeSetlist(theSet());
    return bytes;
}

void reportSize(benchmark::State& state) {
    const auto size = static_cast<std::int64_t>(theBytes().size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * size);
    state.counters["file_MB"] = static_cast<double>(size) / 1e6;
}

// A private folder for the store, removed when the benchmark ends.
struct Folder {
    fs::path path = fs::temp_directory_path() / ("strata-bench-" + std::to_string(::getpid()));
    Folder() { fs::create_directories(path); }
    ~Folder() { fs::remove_all(path); }
};

void BM_Encode(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(encodeSetlist(theSet()));
    reportSize(state);
}
BENCHMARK(BM_Encode)->Unit(benchmark::kMillisecond);

void BM_Decode(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeSetlist(theBytes()));
    reportSize(state);
}
BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond);

// The JSON library's parse alone, for comparison with the whole decode.
void BM_JsonParseOnly(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(nlohmann::json::parse(theBytes()));
    reportSize(state);
}
BENCHMARK(BM_JsonParseOnly)->Unit(benchmark::kMillisecond);

void BM_StoreSave(benchmark::State& state) {
    Folder folder;
    const auto location = StoreLocation::under(folder.path);
    for (auto _ : state)
        benchmark::DoNotOptimize(Store::write(location, theSet()));
    reportSize(state);
}
BENCHMARK(BM_StoreSave)->Unit(benchmark::kMillisecond);

void BM_StoreLoad(benchmark::State& state) {
    Folder folder;
    const auto location = StoreLocation::under(folder.path);
    Store::write(location, theSet());
    for (auto _ : state)
        benchmark::DoNotOptimize(Store::load(location));
    reportSize(state);
}
BENCHMARK(BM_StoreLoad)->Unit(benchmark::kMillisecond);

// What a new record's id costs: records made by the application start with one.
void BM_UuidRandom(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(Uuid::random());
}
BENCHMARK(BM_UuidRandom);

} // namespace

BENCHMARK_MAIN();
