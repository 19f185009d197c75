// Cadenzo's setlist snapshots applied to the current song, and the copies of the set that keep
// dropped sections recoverable.

#include "live_rig.h"
#include "model/setlist_codec.h"
#include "platform/file_io.h"

#include <filesystem>
#include <fstream>

using namespace strata;
using namespace strata::testing;

namespace {

std::string snapshotOf(const std::string& sections, const std::string& extra = "") {
    return R"({"type":"SETLIST_SNAPSHOT","songs":[{"name":"Whatever","sections":[)" + sections +
           "]" + extra + R"(},{"name":"Second","sections":["x"]}]})";
}

std::filesystem::path storeFolder(const TempDir& dir) {
    return Store::filePath(StoreLocation::under(dir.path())).parent_path();
}

} // namespace

TEST_F(LiveTest, SnapshotsRenameAddAndDropSectionsOfTheCurrentSong) {
    Setlist set = makeSet({{"Other", "x"}, {"Song", "Intro", "Verse", "Chorus", "Outro"}},
                          ControlMode::ccMute);
    set.songs[1].tempo = 90;
    set.songs[1].sections[1].steps.push_back(SectionStep::fresh());
    set.songs[1].sections[3].jumpTrigger = AdvanceTrigger{"Pedal", AdvanceTrigger::Kind::cc, 3};
    start(std::move(set));
    app->setCurrentSongIndex(1);
    live->appear();
    settle();
    const Song before = app->setlist().songs[1];
    const Song other = app->setlist().songs[0];
    const auto names = [&] {
        Names out;
        for (const auto& s : app->currentSong()->sections)
            out.push_back(s.name);
        return out;
    };

    struct Row {
        std::string datagram;
        std::int64_t sectionBefore;
        Names names;
        std::optional<double> tempo;
        std::int64_t sectionAfter;
    };
    // clang-format off
    const std::vector<Row> rows{
        // Same names, no tempo: nothing changes, whatever the song's name.
        {snapshotOf(R"("Intro","Verse","Chorus","Outro")"), 3, {"Intro", "Verse", "Chorus", "Outro"}, 90, 3},
        // Tempo 0 with new names: renamed, tempo kept.
        {snapshotOf(R"("In","V","C","Out")", R"(,"tempo":0)"), 3, {"In", "V", "C", "Out"}, 90, 3},
        // Same names, a new tempo: only the tempo.
        {snapshotOf(R"("In","V","C","Out")", R"(,"tempo":128.5)"), 3, {"In", "V", "C", "Out"}, 128.5, 3},
        // An empty list keeps the sections; a tempo still applies.
        {snapshotOf("", R"(,"tempo":100)"), 3, {"In", "V", "C", "Out"}, 100, 3},
        // More names: the new sections are added.
        {snapshotOf(R"("In","V","C","Out","Tag")"), 3, {"In", "V", "C", "Out", "Tag"}, 100, 3},
        // Fewer: the rest are dropped and the index clamped.
        {snapshotOf(R"("A","B")"), 3, {"A", "B"}, 100, 1},
        // No songs, a malformed one: nothing.
        {R"({"type":"SETLIST_SNAPSHOT","songs":[]})", 1, {"A", "B"}, 100, 1},
        {R"({"type":"SETLIST_SNAPSHOT","songs":[{"name":"x","sections":[1]}]})", 1, {"A", "B"}, 100, 1},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.datagram);
        app->setCurrentSectionIndex(row.sectionBefore);
        settle();
        cue(row.datagram);
        settle();
        EXPECT_EQ(names(), row.names);
        EXPECT_EQ(app->currentSong()->tempo, row.tempo);
        EXPECT_EQ(app->currentSectionIndex(), row.sectionAfter);
        if (row.names.size() == 5) { // the added "Tag": fresh, one empty step, nothing else
            const Section& added = app->currentSong()->sections[4];
            ASSERT_EQ(added.steps.size(), 1u);
            EXPECT_EQ(added.steps[0], (SectionStep{added.steps[0].id, {}, std::nullopt, false}));
            EXPECT_EQ(added.jumpTrigger, std::nullopt);
            EXPECT_TRUE(added.moments.empty());
            EXPECT_NE(added.id, before.sections[3].id);
        }
    }

    // Kept sections keep their ids, steps and triggers; added ones are fresh with one step.
    const Song& now = *app->currentSong();
    EXPECT_EQ(now.sections[0].id, before.sections[0].id);
    EXPECT_EQ(now.sections[1].steps, before.sections[1].steps);
    EXPECT_EQ(now.sections[1].id, before.sections[1].id);
    EXPECT_EQ(app->setlist().songs[0], other);
}

TEST_F(LiveTest, DroppedSectionsAreKeptInACopyReportedAndCanBePutBackWhereTheyStood) {
    Setlist set = makeSet({{"Song", "Intro", "Verse", "Bridge", "Outro"}}, ControlMode::ccMute);
    Moment m = Moment::fresh();
    m.name = "Lift";
    set.songs[0].sections[2].moments = {m};
    set.songs[0].sections[3].jumpTrigger = AdvanceTrigger{"Pedal", AdvanceTrigger::Kind::note, 9};
    muteAt(set, 0, 2, 0, {1, 2});
    show(std::move(set));
    const Song before = *app->currentSong();
    const auto copies = [&] {
        live->backups().drain();
        return SetlistBackups::list(storeFolder(*dir));
    };

    std::vector<DroppedSections> reported;
    std::vector<std::size_t> sectionsWhenReported;
    const Connection watch = live->sectionsDropped.connect([&](const DroppedSections& d) {
        reported.push_back(d);
        sectionsWhenReported.push_back(app->currentSong()->sections.size());
    });
    // Renaming, adding: nothing is lost, nothing is reported, no copy is made.
    cue(snapshotOf(R"("Intro","Verse","Bridge","Outro","Tag")"));
    cue(snapshotOf(R"("Intro","Verse","Bridge","End","Tag")"));
    settle();
    EXPECT_TRUE(reported.empty());
    EXPECT_TRUE(copies().empty());
    cue(snapshotOf(R"("Intro","Verse","Bridge","Outro")"));
    settle();
    ASSERT_EQ(reported.size(), 1u) << "dropping the added Tag is a drop too";
    EXPECT_EQ(reported[0].sections.size(), 1u);
    reported.clear();
    sectionsWhenReported.clear();

    const Setlist beforeDrop = app->setlist();
    cue(snapshotOf(R"("Intro","Verse")"));
    settle();
    ASSERT_EQ(reported.size(), 1u);
    const DroppedSections dropped = reported[0];
    EXPECT_EQ(sectionsWhenReported[0], 2u) << "reported once the change is made";
    EXPECT_EQ(dropped.songID, before.id);
    EXPECT_EQ(dropped.songName, "Song");
    EXPECT_EQ(dropped.from, 2u);
    EXPECT_EQ(dropped.sections,
              (std::vector<Section>{before.sections[2], before.sections[3]})); // whole

    // The whole set as it was just before, dropped sections included, is kept in a copy, and
    // the log says where and what.
    const auto kept = copies();
    ASSERT_EQ(kept.size(), 2u);
    const auto file = readWholeFile(kept.back(), Store::kMaxFileBytes);
    ASSERT_EQ(file.status, FileReadResult::Status::ok);
    EXPECT_EQ(decodeSetlist(file.bytes), beforeDrop);
    const auto lines = log.linesStartingWith("[LiveCoordinator]");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find(kept.back().string()), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("\"Bridge\", \"Outro\""), std::string::npos) << lines[1];
    // The document itself holds only what Cadenzo asked for; the autosave writes that.
    loop.advance(AppState::kSaveDebounce);
    const auto saved = Store::load(location());
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->songs[0].sections.size(), 2u);

    // Meanwhile the performer adds a section and stands on it.
    app->addSection();
    app->setCurrentSectionIndex(2);
    settle();
    const Uuid added = section(2).id;

    EXPECT_TRUE(live->restoreSections(dropped));
    settle();
    const Song& now = *app->currentSong();
    ASSERT_EQ(now.sections.size(), 5u);
    EXPECT_EQ(now.sections[2], before.sections[2]);
    EXPECT_EQ(now.sections[3], before.sections[3]);
    EXPECT_EQ(now.sections[4].id, added);
    EXPECT_EQ(app->currentSectionIndex(), 4) << "the performer stays on their section";
    // The trigger of the restored section is live again.
    EXPECT_EQ(app->currentJumpTriggers().count(3), 1u);

    EXPECT_FALSE(live->restoreSections(dropped)) << "nothing is missing any more";
    EXPECT_EQ(app->currentSong()->sections.size(), 5u);

    // Once the song is gone there is nowhere to put them.
    cue(snapshotOf(R"("Intro")"));
    settle();
    ASSERT_EQ(reported.size(), 2u);
    app->deleteSong(0);
    settle();
    EXPECT_FALSE(live->restoreSections(reported[1]));
}

TEST(SetlistBackups, KeepsOnlyTheNewestCopies) {
    LogCapture log;
    TempDir dir;
    const StoreLocation location = StoreLocation::under(dir.path());
    const auto folder = Store::filePath(location).parent_path();
    std::ofstream(folder / "setlist.json") << "{}"; // the set itself is never touched
    std::ofstream(folder / "setlist.before-cadenzo-notes.txt") << "mine";
    {
        SetlistBackups backups(location, 3);
        for (int i = 0; i < 5; ++i) {
            Setlist set;
            set.name = "Set " + std::to_string(i);
            backups.keep(std::move(set), "change " + std::to_string(i));
            backups.drain();
        }
    }
    const auto copies = SetlistBackups::list(folder);
    ASSERT_EQ(copies.size(), 3u);
    for (std::size_t i = 0; i < copies.size(); ++i) {
        const auto kept = decodeSetlist(readWholeFile(copies[i], Store::kMaxFileBytes).bytes);
        ASSERT_TRUE(kept.has_value());
        EXPECT_EQ(kept->name, "Set " + std::to_string(i + 2));
    }
    EXPECT_TRUE(std::filesystem::exists(folder / "setlist.json"));
    EXPECT_TRUE(std::filesystem::exists(folder / "setlist.before-cadenzo-notes.txt"));
    EXPECT_EQ(log.linesStartingWith("[LiveCoordinator]").size(), 5u);
}
