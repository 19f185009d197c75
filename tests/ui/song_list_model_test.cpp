// The setlist pane's song rows follow the set by inserting, removing and moving rows, never by a
// reset: the row of a song being renamed keeps its place (and its text field the keyboard).

#include "ui_rig.h"

#include <QAbstractItemModelTester>
#include <QPersistentModelIndex>
#include <QSignalSpy>
#include <functional>
#include <gtest/gtest.h>

namespace strata::testing {
namespace {

class SongRows : public ::testing::Test {
protected:
    SongRows() {
        rig.app->setSetlist(UiRig::demoSet());
        rig.settle();
        rig.models->appState.undo()->clear();
    }
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

    UiRig rig;
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

TEST_F(SongRows, ARenameUpdatesOnlyItsRowInPlace) {
    const QPersistentModelIndex third(rows().index(2, 0));
    QSignalSpy updates(&rows(), &QAbstractItemModel::dataChanged);
    QSignalSpy removals(&rows(), &QAbstractItemModel::rowsRemoved);
    rig.models->setlist.renameSong(2, "Harbour Song (slow)");
    ASSERT_EQ(updates.count(), 1);
    EXPECT_EQ(updates.front().at(0).toModelIndex().row(), 2);
    EXPECT_EQ(removals.count(), 0);
    EXPECT_TRUE(third.isValid());
    EXPECT_EQ(third.row(), 2);
    EXPECT_EQ(shown()[2].first, "Harbour Song (slow)");
}

} // namespace
} // namespace strata::testing
