// The engine's hot paths: the Moment/rule evaluation that runs on every cue-link tick, and the
// navigation and mute queries behind every section change. Allocations are counted with a
// replaced global operator new; the "nothing due" tick must not allocate at all.

#include "engine/app_state.h"
#include "platform/memory_settings.h"
#include "platform/virtual_main_loop.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <unistd.h>

namespace {
std::atomic<std::uint64_t> allocationCount{0};
}

// Kept out of line: inlined into callers, GCC pairs the malloc/free inside with the callers'
// new/delete and reports a mismatch.
[[gnu::noinline]] void* operator new(std::size_t size) {
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using namespace strata;

constexpr int kLayers = 16;
constexpr int kRulesPerLayer = 8;
constexpr int kMoments = 32;
constexpr int kSongs = 30;
constexpr int kSections = 8;

// A store folder of its own, so that nothing of the user's is read.
struct ScratchFolder {
    std::filesystem::path path;
    ScratchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "strata-bench-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

// A large set: 30 songs of 8 sections with 4 steps each, 16 layers with 8 rules each, and 32
// Moments in the first section. With `oneOnEnter`, the first Moment fires on entering the
// section; nothing else is due on a tick that reports 8 bars to go on the first tick.
Setlist largeSet(bool oneOnEnter) {
    Setlist set = Setlist::empty();
    set.layers.clear();
    for (int l = 0; l < kLayers; ++l) {
        Layer layer = Layer::fresh();
        layer.name = "Layer " + std::to_string(l + 1);
        layer.channel = l % 16 + 1;
        layer.muteCC = 20 + l;
        for (int r = 0; r < kRulesPerLayer; ++r) {
            LayerRule rule = LayerRule::fresh();
            rule.effect = r % 2 ? LayerRule::Effect::muteOut : LayerRule::Effect::swellIn;
            rule.anchor = r % 3 ? FireAnchor::barsBeforeSectionEnd(2 + r % 3)
                                : FireAnchor::barsAfterStart(1 + r);
            rule.allSections = r % 2 == 0;
            rule.sectionNames = {"Chorus", "Bridge", "Verse " + std::to_string(r)};
            layer.rules.push_back(rule);
        }
        set.layers.push_back(std::move(layer));
    }
    set.songs.clear();
    for (int s = 0; s < kSongs; ++s) {
        Song song = Song::fresh();
        song.name = "Song " + std::to_string(s);
        for (int k = 0; k < kSections; ++k) {
            Section section = Section::named("Section " + std::to_string(k));
            while (section.steps.size() < 4)
                section.steps.push_back(SectionStep::fresh());
            section.steps[0].mutedLayerIDs = {set.layers[0].id, set.layers[3].id};
            song.sections.push_back(std::move(section));
        }
        set.songs.push_back(std::move(song));
    }
    auto& moments = set.songs[0].sections[0].moments;
    for (int m = 0; m < kMoments; ++m) {
        Moment moment = Moment::fresh();
        moment.name = "Moment " + std::to_string(m + 1);
        moment.anchor = m % 2 ? FireAnchor::barsBeforeSectionEnd(1 + m % 4)
                              : FireAnchor::barsAfterStart(1 + m % 5);
        moment.muteLayerIDs = {set.layers[m % kLayers].id};
        moment.unmuteLayerIDs = {set.layers[(m + 5) % kLayers].id};
        moment.programChanges.push_back(PatchChange{Uuid::random(), "Port", 1, m});
        moments.push_back(moment);
    }
    if (oneOnEnter)
        moments[0].anchor = FireAnchor::onSectionEnter();
    return set;
}

struct Engine {
    ScratchFolder folder;
    MemorySettings settings;
    VirtualMainLoop loop;
    AppState app;

    explicit Engine(bool oneOnEnter) : app(StoreLocation::under(folder.path), settings, loop) {
        app.setSetlist(largeSet(oneOnEnter));
        app.setMode(StrataMode::pro);
    }
};

void reportAllocations(benchmark::State& state, std::uint64_t before) {
    const auto allocations = allocationCount.load() - before;
    state.counters["allocs/call"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}

void BM_DueMoments_NothingDue(benchmark::State& state) {
    Engine engine(false);
    engine.app.dueMoments(8, true); // the first tick captures the section's start
    const auto before = allocationCount.load();
    for (auto _ : state) {
        MomentFire fire = engine.app.dueMoments(8, true);
        benchmark::DoNotOptimize(fire);
    }
    const auto allocations = allocationCount.load() - before;
    reportAllocations(state, before);
    if (allocations != 0)
        state.SkipWithError("the nothing-due tick allocated");
}
BENCHMARK(BM_DueMoments_NothingDue);

// One Moment (one mute, one unmute, one program change) fires. The section is re-armed before
// each tick by leaving it and coming back; BM_ReArmSection times that alone, so the firing costs
// the difference. (Pausing the timer instead would add more than it hides.)
void reArm(AppState& app) {
    app.setCurrentSectionIndex(1);
    app.setCurrentSectionIndex(0);
}

void BM_DueMoments_OneFires(benchmark::State& state) {
    Engine engine(true);
    reArm(engine.app);
    if (engine.app.dueMoments(8, true).moments.size() != 1) {
        state.SkipWithError("expected exactly one Moment to fire");
        return;
    }
    const auto before = allocationCount.load();
    for (auto _ : state) {
        reArm(engine.app);
        MomentFire fire = engine.app.dueMoments(8, true);
        benchmark::DoNotOptimize(fire);
    }
    reportAllocations(state, before);
}
BENCHMARK(BM_DueMoments_OneFires);

void BM_ReArmSection(benchmark::State& state) {
    Engine engine(true);
    const auto before = allocationCount.load();
    for (auto _ : state)
        reArm(engine.app);
    reportAllocations(state, before);
}
BENCHMARK(BM_ReArmSection);

void BM_Advance(benchmark::State& state) {
    Engine engine(false);
    const auto before = allocationCount.load();
    for (auto _ : state) {
        engine.app.advance();
        if (engine.app.currentSongIndex() == kSongs - 1 &&
            engine.app.currentSectionIndex() == kSections - 1)
            engine.app.selectSong(0);
    }
    reportAllocations(state, before);
}
BENCHMARK(BM_Advance);

void BM_Jump(benchmark::State& state) {
    Engine engine(false);
    std::int64_t i = 0;
    const auto before = allocationCount.load();
    for (auto _ : state)
        engine.app.jump(i++ % kSections);
    reportAllocations(state, before);
}
BENCHMARK(BM_Jump);

void BM_NextPrevStep(benchmark::State& state) {
    Engine engine(false);
    bool forward = true;
    const auto before = allocationCount.load();
    for (auto _ : state) {
        forward ? engine.app.nextStep() : engine.app.prevStep();
        forward = !forward;
    }
    reportAllocations(state, before);
}
BENCHMARK(BM_NextPrevStep);

void BM_CurrentRecords(benchmark::State& state) {
    Engine engine(false);
    engine.app.jump(3);
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine.app.currentSong());
        benchmark::DoNotOptimize(engine.app.currentSection());
        benchmark::DoNotOptimize(engine.app.nextSection());
        benchmark::DoNotOptimize(engine.app.currentStep());
    }
}
BENCHMARK(BM_CurrentRecords);

void BM_ActiveMutedIDs(benchmark::State& state) {
    Engine engine(false);
    for (auto _ : state)
        benchmark::DoNotOptimize(&engine.app.activeMutedIDs());
}
BENCHMARK(BM_ActiveMutedIDs);

// Copies the sounding layers (with their rules) into a new list.
void BM_EnabledLayers(benchmark::State& state) {
    Engine engine(false);
    for (auto _ : state) {
        auto layers = engine.app.enabledLayers();
        benchmark::DoNotOptimize(layers);
    }
}
BENCHMARK(BM_EnabledLayers);

} // namespace

BENCHMARK_MAIN();
