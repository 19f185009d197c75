// The section grid, its editors and the window's list models as view models over the real core:
// the words they build from the document, the edits their controls make, and what the list models
// tell the views when rows change (a change of section tells them about the position and the mix
// and nothing else; the setlist pane's song rows follow the set by inserting, removing and moving
// rows, never by a reset, so that the row of a song being renamed keeps its place and its text
// field the keyboard).

#include "editor_texts.h"
#include "row_list_model.h"
#include "support/records.h"
#include "ui_rig.h"
#include "ui_text.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <functional>
#include <gtest/gtest.h>

namespace strata::testing {
namespace {

// ---- Texts -------------------------------------------------------------------------------------

// A badge click and the momentary arrow are seen in the grid's QML test; here, the cycle, the last
// step's badge, which holds whatever the step stores, and a jump chip without a device.
TEST(EditorTexts, BadgesCycleTwoFourEightTheLastHoldsAndJumpChipsNameTheirControl) {
    using B = std::optional<std::int64_t>;
    const std::pair<B, B> cases[] = {
        {std::nullopt, 2}, {2, 4}, {4, 8}, {8, std::nullopt}, {3, 2}, {0, 2}, {-4, 2}, {16, 2}};
    for (const auto& [from, to] : cases)
        EXPECT_EQ(editor::nextAdvanceBars(from), to) << (from ? *from : -1);
    SectionStep step = SectionStep::fresh();
    step.advanceBars = 4;
    EXPECT_EQ(editor::stepBadge(step, false).text, "4 bars \u2192");
    const auto last = editor::stepBadge(step, true);
    EXPECT_EQ(last.text, "hold");
    EXPECT_FALSE(last.clickable);
    EXPECT_EQ(editor::jumpChipText({"FCB1010", AdvanceTrigger::Kind::cc, 7}),
              "Jumps here from FCB1010 CC 7");
    EXPECT_EQ(editor::jumpChipText({"", AdvanceTrigger::Kind::note, 64}), "Jumps here from N 64");
}

TEST(EditorTexts, MomentSummaries) {
    std::vector<Layer> layers;
    strata::testing::growTo(layers, 3);
    layers[0].name = "Pad";
    layers[1].name = "Keys";
    layers[2].name = "Bass";
    Layer other = Layer::fresh(); // not on the card: never named
    other.name = "Choir";

    struct Case {
        FireAnchor anchor;
        UuidSet unmute, mute;
        int patches, ccs;
        const char* text;
    };
    // clang-format off
    const Case cases[] = {
        {FireAnchor::onSectionEnter(), {}, {}, 0, 0, "Fires when this section starts."},
        {FireAnchor::manual(), {}, {}, 1, 0, "Fires when you trigger it by hand \u2014 1 patch change."},
        {FireAnchor::barsBeforeSectionEnd(2), {layers[0].id}, {}, 0, 0,
         "Fires 2 bars before this section ends \u2014 swell Pad in."},
        {FireAnchor::barsAfterStart(1), {}, {layers[1].id, layers[2].id, other.id}, 0, 1,
         "Fires 1 bar after this section starts \u2014 mute Keys, Bass out, 1 effect send."},
        {FireAnchor::barsBeforeSectionEnd(4), {layers[2].id}, {layers[0].id}, 2, 3,
         "Fires 4 bars before this section ends \u2014 swell Bass in, mute Pad out, 2 patch changes, 3 effect sends."},
    };
    // clang-format on
    for (const Case& c : cases) {
        Moment moment = Moment::fresh();
        moment.anchor = c.anchor;
        moment.unmuteLayerIDs = c.unmute;
        moment.muteLayerIDs = c.mute;
        moment.programChanges.resize(static_cast<std::size_t>(c.patches));
        moment.ccSends.resize(static_cast<std::size_t>(c.ccs));
        EXPECT_EQ(editor::momentSummary(moment, layers), c.text);
    }
}

// ---- Models ------------------------------------------------------------------------------------

// A returning user's window in Pro over the demo set, as read at launch (nothing to undo).
class EditorModels : public ::testing::Test {
protected:
    EditorModels() {
        rig.settings.setBool(LiveCoordinator::kShowModeChooserKey, false);
        rig.settings.setBool(LiveCoordinator::kHasSeenQuickStartKey, true);
        rig.app->setSetlist(UiRig::demoSet());
        rig.app->setMode(StrataMode::pro);
        rig.settle();
        rig.models->appState.undo()->clear();
    }
    UiModels& ui() { return *rig.models; }
    static QVariantMap at(const RowListModel* list, int i) { return list->get(i); }
    UiRig rig;
};

TEST_F(EditorModels, LayerRowsInMackieModeAndTheDawNames) {
    auto& editor = ui().layerEditor;
    while (rig.app->setlist().layers.size() < 10)
        editor.addLayer();
    EXPECT_EQ(editor.layers()->count(), 10);
    EXPECT_FALSE(editor.canUseDawNames());

    ui().live.setControlMode("mackieControl");
    rig.settle();
    EXPECT_TRUE(editor.mackieMode());
    EXPECT_EQ(at(editor.layers(), 0)["track"], "TRK 1");
    EXPECT_EQ(at(editor.layers(), 8)["track"], "XT 9");
    EXPECT_EQ(at(editor.layers(), 0)["dawLine"],
              QStringLiteral("waiting for DAW track name\u2026"));
    EXPECT_FALSE(editor.canUseDawNames());

    rig.service->mackieSlotNames.set({{0, "Pno"}, {2, "Pad 2"}, {3, ""}});
    EXPECT_TRUE(editor.canUseDawNames());
    EXPECT_EQ(at(editor.layers(), 0)["dawLine"], "DAW: Pno");
    editor.useDawNames();
    const auto& layers = rig.app->setlist().layers;
    EXPECT_EQ(layers[0].name, "Pno");
    EXPECT_EQ(layers[1].name, "Poly");
    EXPECT_EQ(layers[2].name, "Pad 2");
    EXPECT_EQ(layers[3].name, "Lead"); // an empty name read back changes nothing

    ui().live.setControlMode("ccMute");
    rig.settle();
    EXPECT_FALSE(editor.canUseDawNames());
    EXPECT_EQ(at(editor.layers(), 0)["track"], "");
}

// Every notification a list model gave, in the order given, as text: "changed 1 b",
// "inserted 2-3", "removed 1-1", "reset".
class ListSpy {
public:
    explicit ListSpy(QAbstractItemModel& model) {
        const auto names = model.roleNames();
        QObject::connect(
            &model, &QAbstractItemModel::dataChanged,
            [this, names](const QModelIndex& from, const QModelIndex& to, const QList<int>& roles) {
                QString line = QStringLiteral("changed %1").arg(from.row());
                if (to.row() != from.row())
                    line += QStringLiteral("-%1").arg(to.row());
                for (int role : roles)
                    line += QStringLiteral(" ") + QString::fromLatin1(names[role]);
                events << line;
            });
        QObject::connect(&model, &QAbstractItemModel::rowsInserted,
                         [this](const QModelIndex&, int first, int last) {
                             events << QStringLiteral("inserted %1-%2").arg(first).arg(last);
                         });
        QObject::connect(&model, &QAbstractItemModel::rowsRemoved,
                         [this](const QModelIndex&, int first, int last) {
                             events << QStringLiteral("removed %1-%2").arg(first).arg(last);
                         });
        QObject::connect(&model, &QAbstractItemModel::modelReset,
                         [this] { events << QStringLiteral("reset"); });
    }
    QStringList events;
};

TEST(RowListModel, TellsTheViewsOnlyWhatChanged) {
    using Rows = std::vector<RowListModel::Row>;
    const Rows start{{"x", 1}, {"y", 2}, {"z", 3}};
    struct Case {
        const char* name;
        Rows next;
        QStringList events;
    };
    const std::vector<Case> cases{
        {"the same rows", start, {}},
        {"one value", {{"x", 1}, {"y", 5}, {"z", 3}}, {"changed 1 b"}},
        {"two roles of a row", {{"x", 1}, {"y", 2}, {"w", 4}}, {"changed 2 a b"}},
        {"a row more", {{"x", 1}, {"y", 2}, {"z", 3}, {"v", 4}}, {"inserted 3-3"}},
        {"the first row gone",
         {{"y", 2}, {"z", 3}},
         {"changed 0 a b", "changed 1 a b", "removed 2-2"}},
        {"all gone", {}, {"removed 0-2"}},
        {"a list of lists", {{"x", QVariantList{true}}, {"y", 2}, {"z", 3}}, {"changed 0 b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RowListModel model({"a", "b"});
        model.update(start);
        ListSpy spy(model);
        QSignalSpy counts(&model, &RowListModel::countChanged);
        model.update(c.next);
        EXPECT_EQ(spy.events, c.events);
        EXPECT_EQ(counts.count(), c.next.size() == start.size() ? 0 : 1);
        ASSERT_EQ(model.count(), static_cast<int>(c.next.size()));
        for (int i = 0; i < model.count(); ++i) {
            const auto& row = c.next[static_cast<std::size_t>(i)];
            EXPECT_EQ(model.data(model.index(i), Qt::UserRole + 1), row[0]);
            EXPECT_EQ(model.get(i).value("b"), row[1]);
        }
    }
}

TEST_F(EditorModels, ASectionChangeMovesThePositionAndTheMixOnly) {
    ListSpy sections(*ui().grid.sections());
    ListSpy columns(*ui().grid.columns());
    ListSpy layers(*ui().appState.layers());
    ListSpy moments(*ui().liveMoments.moments());
    QSignalSpy gridSong(&ui().grid, &SectionGridModel::songChanged);
    QSignalSpy gridPosition(&ui().grid, &SectionGridModel::positionChanged);
    QSignalSpy set(&ui().appState, &AppStateModel::setChanged);
    QSignalSpy song(&ui().appState, &AppStateModel::songChanged);
    QSignalSpy position(&ui().appState, &AppStateModel::positionChanged);
    QSignalSpy mix(&ui().appState, &AppStateModel::mixChanged);

    // The intro plays the piano alone; the first verse adds the poly synth, the lead and the choir.
    rig.app->advance();
    rig.settle();
    EXPECT_EQ(ui().grid.currentSection(), 1);
    EXPECT_EQ(sections.events, QStringList());
    EXPECT_EQ(columns.events, QStringList());
    EXPECT_EQ(moments.events, QStringList());
    EXPECT_EQ(layers.events,
              QStringList({"changed 1 playing", "changed 3 playing", "changed 5 playing"}));
    EXPECT_EQ(gridPosition.count(), 1);
    EXPECT_EQ(position.count(), 1);
    EXPECT_EQ(mix.count(), 1);
    EXPECT_EQ(gridSong.count() + set.count() + song.count(), 0);

    // The chorus and the second verse both play everything: the position moves twice, the mix
    // once.
    rig.app->advance();
    rig.app->advance();
    rig.settle();
    EXPECT_EQ(position.count(), 3);
    EXPECT_EQ(mix.count(), 2);

    // An edit changes its own section's row and nothing else.
    sections.events.clear();
    const Section& verse = rig.app->currentSong()->sections.at(1);
    rig.app->toggleLayer(rig.app->setlist().layers.at(0).id, verse.id, 0);
    rig.settle();
    EXPECT_EQ(sections.events, QStringList({"changed 1 rows"}));
    EXPECT_EQ(set.count(), 0);

    // Another song: the header follows, and the rows become the new song's.
    sections.events.clear();
    rig.app->setCurrentSongIndex(1);
    rig.settle();
    EXPECT_EQ(gridSong.count(), 1);
    EXPECT_EQ(song.count(), 1);
    EXPECT_EQ(ui().grid.sections()->count(), 5);
    EXPECT_EQ(ui().grid.sections()->get(2).value("name"), "Pre-Chorus");
    EXPECT_EQ(sections.events.last(), "removed 5-6");
}

// The setlist pane's song rows.
class SongRows : public EditorModels {
protected:
    QAbstractItemModel& rows() { return *rig.models->setlist.songs(); }

    // The rows as the list shows them: name and section count.
    std::vector<std::pair<QString, int>> shown() {
        std::vector<std::pair<QString, int>> out;
        const auto names = rows().roleNames();
        const int nameRole = names.key("name"), countRole = names.key("sectionCount");
        for (int i = 0; i < rows().rowCount(); ++i)
            out.emplace_back(rows().data(rows().index(i, 0), nameRole).toString(),
                             rows().data(rows().index(i, 0), countRole).toInt());
        return out;
    }
    std::vector<std::pair<QString, int>> inTheSet() {
        std::vector<std::pair<QString, int>> out;
        for (const Song& song : rig.app->setlist().songs)
            out.emplace_back(QString::fromStdString(song.name),
                             static_cast<int>(song.sections.size()));
        return out;
    }
};

TEST_F(SongRows, FollowEveryKindOfChangeWithoutAReset) {
    // Aborts the test on any inconsistent signal sequence.
    QAbstractItemModelTester tester(&rows(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy resets(&rows(), &QAbstractItemModel::modelReset);
    SetlistModel& pane = rig.models->setlist;
    UndoModel& undo = *rig.models->appState.undo();

    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"add", [&] { pane.addSong(); }},
        {"move down", [&] { pane.moveSongDown(0); }},
        {"move up", [&] { pane.moveSongUp(5); }},
        {"delete", [&] { pane.deleteSong(2); }},
        {"import", [&] { pane.importSetlist("X\nx1\n\nY", false); }},
        {"add section", [&] { rig.app->addSection(); }},
        {"rename", [&] { pane.renameSong(2, "Harbour Song (slow)"); }},
        {"undo", [&] { undo.undo(); }},
        {"undo again", [&] { undo.undo(); }},
        {"redo", [&] { undo.redo(); }},
        {"same song twice",
         [&] {
             rig.app->updateSetlist([](Setlist& set) {
                 set.songs.push_back(set.songs.front());
                 set.songs.back().name = "Twin";
                 return true;
             });
         }},
        {"twins swap", [&] { pane.moveSongUp(static_cast<int>(rows().rowCount()) - 1); }},
        {"replace", [&] { pane.importSetlist("Only\na", true); }},
        {"new set", [&] { pane.newSet(); }},
        {"delete the last", [&] { pane.deleteSong(0); }},
        {"undo all",
         [&] {
             while (undo.canUndo())
                 undo.undo();
         }},
    };
    for (const auto& [what, change] : changes) {
        change();
        EXPECT_EQ(shown(), inTheSet()) << what;
    }
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(shown().size(), 5u);
}

} // namespace
} // namespace strata::testing
