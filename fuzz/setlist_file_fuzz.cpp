// The setlist file loader: whatever bytes "setlist.json" holds, decoding never crashes, a decoded
// set writes back and reads back unchanged, the store either loads the file or keeps it aside
// byte for byte, and the engine runs on whatever was loaded (navigation, Moments, edits, the
// autosave) without tripping a sanitizer.

#include "engine/app_state.h"
#include "fuzz_check.h"
#include "model/setlist_codec.h"
#include "model/store.h"
#include "platform/memory_settings.h"
#include "platform/virtual_main_loop.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <limits>
#include <sstream>

using namespace strata;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    FUZZ_CHECK(out.good());
}

// The writer's output reads back into an equal set (ids included), and writing that again gives
// the very same bytes (sets are ordered, so even their order repeats).
void checkRoundTrip(const Setlist& decoded) {
    const auto encoded = encodeSetlist(decoded);
    FUZZ_CHECK(encoded.has_value());
    const auto again = decodeSetlist(*encoded);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(*again == decoded);
    FUZZ_CHECK(encodeSetlist(*again) == encoded);
}

// The files the store left in its folder, other than the setlist itself.
std::vector<fs::path> asideFiles(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename() != "setlist.json")
            found.push_back(entry.path());
    return found;
}

// Drives the engine over the loaded set the way a performer and an editor would: every song,
// section and step, Moments on hostile bar counts, and a few edits.
void exercise(AppState& app, VirtualMainLoop& loop) {
    constexpr std::int64_t kBars[] = {std::numeric_limits<std::int64_t>::max(), 16, 2, 1, 0, -1,
                                      std::numeric_limits<std::int64_t>::min()};
    const auto songCount = std::min<std::size_t>(app.setlist().songs.size(), 6);
    for (std::size_t s = 0; s < songCount; ++s) {
        app.selectSong(static_cast<std::int64_t>(s));
        const auto sectionCount = std::min<std::size_t>(app.setlist().songs[s].sections.size(), 8);
        for (std::size_t k = 0; k < sectionCount; ++k) {
            app.jump(static_cast<std::int64_t>(k));
            for (int step = 0; step < 3; ++step) {
                (void)app.activeMutedIDs();
                (void)app.enabledLayers();
                (void)app.visibleLayers();
                (void)app.currentJumpTriggers();
                for (const std::int64_t bars : kBars)
                    (void)app.dueMoments(bars, true);
                (void)app.dueMoments(std::nullopt, true);
                app.nextStep();
            }
            if (const Section* section = app.currentSection()) {
                const std::vector<Moment> moments = section->moments;
                for (std::size_t m = 0; m < std::min<std::size_t>(moments.size(), 4); ++m)
                    app.fireManually(moments[m]);
            }
            app.prevStep();
        }
        app.advance();
        app.retreat();
    }

    // Edits on the current song and the layers, whatever shape they are in.
    if (const Section* first = app.currentSection()) {
        const Uuid section = first->id;
        app.addStep(section);
        app.setAdvanceBars(std::numeric_limits<std::int64_t>::max(), section, 0);
        app.toggleMomentary(section, 0);
        app.addMoment(section);
        if (!app.setlist().layers.empty())
            app.toggleLayer(app.setlist().layers.front().id, section, 0);
        app.deleteStep(section, 0);
    }
    app.duplicateSection(0);
    app.moveSection(0, 2);
    app.renameSection(0, "Renamed");
    app.deleteSection(1);
    app.addLayer("Port");
    if (!app.setlist().layers.empty())
        app.deleteLayer(app.setlist().layers.back().id);
    app.moveSong(0, static_cast<std::int64_t>(app.setlist().songs.size()));
    app.importSetlist("Song A\nVerse\nChorus\n\nSong B\nIntro", false);

    // The autosave writes what the engine now holds, and that reads back exactly.
    loop.advance(AppState::kSaveDebounce);
    FUZZ_CHECK(!app.hasUnsavedChanges());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const auto decoded = decodeSetlist(bytes);
    if (decoded)
        checkRoundTrip(*decoded);

    static const fuzz::ScratchFolder scratch;
    scratch.clear();
    const StoreLocation location = StoreLocation::under(scratch.path());
    const fs::path file = Store::filePath(location);
    writeFile(file, bytes);

    MemorySettings settings;
    // Half of the inputs run in Pro (steps, Moments), half in Essentials.
    settings.setString(AppState::kModeKey, size % 2 ? "pro" : "essentials");
    VirtualMainLoop loop;
    {
        AppState app(location, settings, loop);
        if (decoded) {
            // Loaded as it is: same shape (fallback ids are new on every read, so compare shape).
            FUZZ_CHECK(app.setlist().name == decoded->name);
            FUZZ_CHECK(app.setlist().songs.size() == decoded->songs.size());
            FUZZ_CHECK(app.setlist().layers.size() == decoded->layers.size());
            FUZZ_CHECK(asideFiles(file.parent_path()).empty());
            FUZZ_CHECK(readFile(file) == bytes);
        } else {
            // Nothing lost: the unreadable file is kept aside unchanged before anything can save.
            const auto aside = asideFiles(file.parent_path());
            FUZZ_CHECK(aside.size() == 1);
            FUZZ_CHECK(readFile(aside.front()) == bytes);
            FUZZ_CHECK(!fs::exists(file));
        }
        exercise(app, loop);
        const auto stored = Store::load(location);
        FUZZ_CHECK(stored.has_value());
        FUZZ_CHECK(*stored == app.setlist());
    }
    return 0;
}
