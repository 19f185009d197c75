// The list models the window binds to: what they tell the views when the rows are built again,
// and that a change of section tells the views about the position and the mix and nothing else.

#include "row_list_model.h"
#include "ui_rig.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace strata::testing {
namespace {

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

class ListModels : public ::testing::Test {
protected:
    ListModels() {
        rig.settings.setBool(LiveCoordinator::kShowModeChooserKey, false);
        rig.settings.setBool(LiveCoordinator::kHasSeenQuickStartKey, true);
        rig.app->setSetlist(UiRig::demoSet());
        rig.app->setMode(StrataMode::pro);
        rig.settle();
    }
    UiModels& ui() { return *rig.models; }
    UiRig rig;
};

TEST_F(ListModels, ASectionChangeMovesThePositionAndTheMixOnly) {
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

} // namespace
} // namespace strata::testing
