// The section grid and its editors as view models over the real core: the words they build from the
// document and the edits their controls make.

#include "editor_texts.h"
#include "ui_rig.h"
#include "ui_text.h"

#include <gtest/gtest.h>

namespace strata::testing {
namespace {

// ---- Texts -------------------------------------------------------------------------------------

TEST(EditorTexts, StepBadges) {
    struct Case {
        std::optional<std::int64_t> bars;
        bool momentary;
        bool last;
        const char* text;
        const char* help;
        bool clickable;
    };
    const Case cases[] = {
        {std::nullopt, false, false, "hold", "manually advance", true},
        {4, false, false, "4 bars \u2192",
         "Auto-leaves to the next step after 4 bars. Click to change.", true},
        {8, true, false, "8 bars \u21A9",
         "Momentary: Auto-leaves to the next step after 8 bars. Click to change.", true},
        {std::nullopt, true, true, "hold", "Momentary: manually advance", true},
        // The last step holds whatever it stores, until the next section fires.
        {4, false, true, "hold",
         "Last step \u2014 holds until the next section fires. (Right-click \u2192 Momentary to "
         "make it snap back to the main patch.)",
         false},
    };
    for (const Case& c : cases) {
        SectionStep step;
        step.advanceBars = c.bars;
        step.returnToMain = c.momentary;
        const auto badge = editor::stepBadge(step, c.last);
        EXPECT_EQ(badge.text, c.text) << c.help;
        EXPECT_EQ(badge.help, c.help);
        EXPECT_EQ(badge.clickable, c.clickable) << c.help;
    }
}

TEST(EditorTexts, BadgeCycleGoesThroughTwoFourEightAndTreatsOthersAsNone) {
    using B = std::optional<std::int64_t>;
    const std::pair<B, B> cases[] = {
        {std::nullopt, 2}, {2, 4}, {4, 8}, {8, std::nullopt}, {3, 2}, {0, 2}, {-4, 2}, {16, 2}};
    for (const auto& [from, to] : cases)
        EXPECT_EQ(editor::nextAdvanceBars(from), to) << (from ? *from : -1);
}

TEST(EditorTexts, JumpChip) {
    AdvanceTrigger trigger;
    trigger.kind = AdvanceTrigger::Kind::cc;
    trigger.data1 = 7;
    trigger.deviceName = "FCB1010";
    EXPECT_EQ(editor::jumpChipText(trigger), "Jumps here from FCB1010 CC 7");
    EXPECT_EQ(editor::jumpChipHelp(trigger),
              "Plays this section when CC 7 arrives from FCB1010. Click to re-learn.");
    trigger.kind = AdvanceTrigger::Kind::note;
    trigger.data1 = 64;
    trigger.deviceName.clear();
    EXPECT_EQ(editor::jumpChipText(trigger), "Jumps here from N 64");
}

TEST(EditorTexts, AnchorChipsKeepTheBarCountOrStartAtTwo) {
    using K = FireAnchor::Kind;
    EXPECT_EQ(editor::anchorOfKind(K::barsAfterStart, FireAnchor::barsBeforeSectionEnd(6)),
              FireAnchor::barsAfterStart(6));
    EXPECT_EQ(editor::anchorOfKind(K::barsBeforeSectionEnd, FireAnchor::barsAfterStart(1)),
              FireAnchor::barsBeforeSectionEnd(1));
    EXPECT_EQ(editor::anchorOfKind(K::barsAfterStart, FireAnchor::onSectionEnter()),
              FireAnchor::barsAfterStart(2));
    EXPECT_EQ(editor::anchorOfKind(K::barsBeforeSectionEnd, FireAnchor::manual()),
              FireAnchor::barsBeforeSectionEnd(2));
    EXPECT_EQ(editor::anchorOfKind(K::manual, FireAnchor::barsAfterStart(5)), FireAnchor::manual());
    EXPECT_EQ(editor::anchorOfKind(K::onSectionEnter, FireAnchor::barsAfterStart(5)),
              FireAnchor::onSectionEnter());
}

TEST(EditorTexts, MomentSummaries) {
    std::vector<Layer> layers(3);
    layers[0].name = "Pad";
    layers[1].name = "Keys";
    layers[2].name = "Bass";
    Layer other; // not on the card: never named
    other.name = "Choir";

    struct Case {
        FireAnchor anchor;
        UuidSet unmute, mute;
        int patches, ccs;
        const char* text;
    };
    const Case cases[] = {
        {FireAnchor::onSectionEnter(), {}, {}, 0, 0, "Fires when this section starts."},
        {FireAnchor::manual(),
         {},
         {},
         1,
         0,
         "Fires when you trigger it by hand \u2014 1 patch change."},
        {FireAnchor::barsBeforeSectionEnd(2),
         {layers[0].id},
         {},
         0,
         0,
         "Fires 2 bars before this section ends \u2014 swell Pad in."},
        {FireAnchor::barsAfterStart(1),
         {},
         {layers[1].id, layers[2].id, other.id},
         0,
         1,
         "Fires 1 bar after this section starts \u2014 mute Keys, Bass out, 1 effect send."},
        {FireAnchor::barsBeforeSectionEnd(4),
         {layers[2].id},
         {layers[0].id},
         2,
         3,
         "Fires 4 bars before this section ends \u2014 swell Bass in, mute Pad out, 2 patch "
         "changes, 3 effect sends."},
    };
    for (const Case& c : cases) {
        Moment moment;
        moment.anchor = c.anchor;
        moment.unmuteLayerIDs = c.unmute;
        moment.muteLayerIDs = c.mute;
        moment.programChanges.resize(static_cast<std::size_t>(c.patches));
        moment.ccSends.resize(static_cast<std::size_t>(c.ccs));
        EXPECT_EQ(editor::momentSummary(moment, layers), c.text);
    }
}

// ---- Models ------------------------------------------------------------------------------------

class EditorModels : public ::testing::Test {
protected:
    EditorModels() {
        rig.settings.setBool(LiveCoordinator::kShowModeChooserKey, false);
        rig.settings.setBool(LiveCoordinator::kHasSeenQuickStartKey, true);
        rig.state->setSetlist(UiRig::demoSet());
        rig.state->setMode(StrataMode::pro);
        rig.settle();
    }
    UiModels& ui() { return *rig.models; }
    const Section& section(std::size_t i) { return rig.state->currentSong()->sections.at(i); }
    static QVariantMap at(const QVariantList& list, int i) { return list.at(i).toMap(); }
    UiRig rig;
};

TEST_F(EditorModels, BadgeClickCycleAndTheLastStepHolds) {
    auto& grid = ui().grid;
    rig.state->addStep(section(0));
    rig.state->setAdvanceBars(3, section(0), 0);
    grid.cycleBadge(0, 0);
    EXPECT_EQ(section(0).steps[0].advanceBars, 2);
    grid.cycleBadge(0, 1); // the last step, not momentary
    EXPECT_EQ(section(0).steps[1].advanceBars, std::nullopt);
    const auto rows = at(grid.sections(), 0)["rows"].toList();
    EXPECT_EQ(at(rows, 0)["badge"], QStringLiteral("2 bars \u2192"));
    EXPECT_EQ(at(rows, 1)["badge"], "hold");
    EXPECT_FALSE(at(rows, 1)["badgeClickable"].toBool());
}

TEST_F(EditorModels, RowTapSelectsSectionThenStepAndAddStepAppends) {
    auto& grid = ui().grid;
    rig.state->addStep(section(2));
    rig.state->addStep(section(2));
    const Uuid first = section(2).steps[0].id;
    grid.addStep(2);
    ASSERT_EQ(section(2).steps.size(), 4u);
    EXPECT_EQ(section(2).steps[0].id, first);

    grid.selectRow(2, 3);
    EXPECT_EQ(grid.currentSection(), 2);
    EXPECT_EQ(grid.currentStep(), 3);
    grid.selectRow(2, 9); // no such step: nothing moves
    EXPECT_EQ(grid.currentStep(), 3);
}

TEST_F(EditorModels, EssentialsShowsEightLayersAndOffersNoAdd) {
    rig.state->updateSetlist([](Setlist& set) {
        while (set.layers.size() < 12) {
            Layer layer;
            layer.name = "Extra " + std::to_string(set.layers.size());
            set.layers.push_back(layer);
        }
        return true;
    });
    rig.state->setMode(StrataMode::essentials);
    EXPECT_EQ(ui().grid.columns().size(), 8);
    EXPECT_EQ(at(at(ui().grid.sections(), 0)["rows"].toList(), 0)["cells"].toList().size(), 8);
    EXPECT_EQ(at(ui().grid.sections(), 0)["rows"].toList().size(), 1);
    EXPECT_FALSE(ui().layerEditor.canAddLayer());
    auto* moments = ui().grid.momentsEditor();
    ui().grid.editMoments(0);
    EXPECT_EQ(moments->layers().size(), 8);

    rig.state->setMode(StrataMode::pro);
    EXPECT_EQ(ui().grid.columns().size(), 12);
    EXPECT_TRUE(ui().layerEditor.canAddLayer());
}

TEST_F(EditorModels, DeletingALayerClearsStepsButKeepsMoments) {
    const Layer pad = rig.state->setlist().layers.at(2);
    ASSERT_TRUE(section(1).steps[0].mutedLayerIDs.contains(pad.id));
    auto* moments = ui().grid.momentsEditor();
    ui().grid.editMoments(1);
    moments->addMoment();
    const QString momentID = at(moments->moments(), 0)["id"].toString();
    moments->setLayerState(momentID, qtext(pad.id), 2);
    const Moment before = section(1).moments.at(0);
    ASSERT_TRUE(before.muteLayerIDs.contains(pad.id));

    ui().layerEditor.deleteLayer(qtext(pad.id));
    for (const Song& song : rig.state->setlist().songs)
        for (const Section& s : song.sections)
            for (const SectionStep& step : s.steps)
                EXPECT_FALSE(step.mutedLayerIDs.contains(pad.id));
    EXPECT_EQ(section(1).moments.at(0), before);
    EXPECT_EQ(ui().grid.columns().size(), 5);
}

TEST_F(EditorModels, SoloAndLayerStatesOfAMoment) {
    auto* moments = ui().grid.momentsEditor();
    ui().grid.editMoments(0);
    moments->addMoment();
    const QString id = at(moments->moments(), 0)["id"].toString();
    const auto& layers = rig.state->setlist().layers;
    moments->solo(id, qtext(layers[1].id));
    const Moment& m = section(0).moments.at(0);
    EXPECT_EQ(m.unmuteLayerIDs, UuidSet{layers[1].id});
    EXPECT_EQ(m.muteLayerIDs.size(), layers.size() - 1);
    EXPECT_FALSE(m.muteLayerIDs.contains(layers[1].id));
    EXPECT_EQ(at(moments->moments(), 0)["selected"], QStringLiteral("6 selected"));

    // Choosing a state takes the layer out of the other set first.
    moments->setLayerState(id, qtext(layers[0].id), 1);
    EXPECT_TRUE(section(0).moments[0].unmuteLayerIDs.contains(layers[0].id));
    EXPECT_FALSE(section(0).moments[0].muteLayerIDs.contains(layers[0].id));
    moments->setLayerState(id, qtext(layers[0].id), 0);
    EXPECT_FALSE(section(0).moments[0].unmuteLayerIDs.contains(layers[0].id));
    EXPECT_FALSE(section(0).moments[0].muteLayerIDs.contains(layers[0].id));
}

TEST_F(EditorModels, RuleAnchorSwitchingKeepsTheBarCount) {
    auto* rules = ui().layerEditor.rulesEditor();
    const Layer& layer = rig.state->setlist().layers.at(0);
    rules->openFor(qtext(layer.id));
    rules->addRule();
    const QString id = at(rules->rules(), 0)["id"].toString();
    const auto rule = [&] { return rig.state->setlist().layers.at(0).rules.at(0); };
    EXPECT_EQ(rule().anchor, FireAnchor::barsBeforeSectionEnd(2));
    EXPECT_TRUE(rule().enabled);
    EXPECT_TRUE(rule().allSections);

    rules->setBars(id, 6);
    rules->setAnchor(id, "barsAfterStart");
    EXPECT_EQ(rule().anchor, FireAnchor::barsAfterStart(6));
    rules->setAnchor(id, "onSectionEnter");
    rules->setBars(id, 9); // no stepper for this anchor: nothing written
    EXPECT_EQ(rule().anchor, FireAnchor::onSectionEnter());
    rules->setAnchor(id, "barsBeforeSectionEnd");
    EXPECT_EQ(rule().anchor, FireAnchor::barsBeforeSectionEnd(2));
    rules->setBars(id, 99);
    EXPECT_EQ(rule().anchor.bars, 32);

    rules->toggleSection(id, "Chorus");
    EXPECT_EQ(rule().sectionNames, std::set<std::string>{"Chorus"});
    // Chorus is the third of the song's section names, each listed once.
    const auto chosen = at(rules->rules(), 0)["chosen"].toList();
    EXPECT_EQ(rules->sectionNames().size(), 6);
    EXPECT_TRUE(chosen.at(2).toBool());
}

TEST_F(EditorModels, JumpChipLearnsListensAndClears) {
    auto& grid = ui().grid;
    EXPECT_FALSE(at(grid.sections(), 3)["hasJumpTrigger"].toBool());
    EXPECT_EQ(at(grid.sections(), 3)["jumpHelp"], QString(editor::kLearnJumpHelp));

    grid.jumpChipClicked(3);
    EXPECT_TRUE(at(grid.sections(), 3)["listening"].toBool());
    EXPECT_FALSE(at(grid.sections(), 2)["listening"].toBool());
    rig.pressNote("fcb1010 Pedal", 60);
    EXPECT_FALSE(at(grid.sections(), 3)["listening"].toBool());
    EXPECT_TRUE(at(grid.sections(), 3)["hasJumpTrigger"].toBool());
    EXPECT_TRUE(at(grid.sections(), 3)["jumpText"].toString().endsWith("N 60"));

    // A second click while listening takes the learning back and keeps the old trigger.
    grid.jumpChipClicked(3);
    EXPECT_TRUE(at(grid.sections(), 3)["listening"].toBool());
    grid.jumpChipClicked(3);
    EXPECT_FALSE(at(grid.sections(), 3)["listening"].toBool());
    EXPECT_FALSE(rig.service->isLearningTrigger());
    EXPECT_TRUE(at(grid.sections(), 3)["hasJumpTrigger"].toBool());

    grid.clearJumpTrigger(3);
    EXPECT_FALSE(at(grid.sections(), 3)["hasJumpTrigger"].toBool());
}

TEST_F(EditorModels, LayerRowsInMackieModeAndTheDawNames) {
    auto& editor = ui().layerEditor;
    while (rig.state->setlist().layers.size() < 10)
        editor.addLayer();
    const Layer added = rig.state->setlist().layers.at(6);
    EXPECT_EQ(added.name, "Layer 7");
    EXPECT_EQ(added.channel, 7); // one above the highest channel in use
    EXPECT_EQ(added.muteCC, 26);
    EXPECT_EQ(editor.layers().size(), 10);
    EXPECT_FALSE(editor.canUseDawNames());

    ui().live.setControlMode("mackieControl");
    rig.settle();
    EXPECT_TRUE(editor.mackieMode());
    EXPECT_TRUE(editor.modeHint().startsWith("In MainStage Preferences"));
    EXPECT_EQ(at(editor.layers(), 0)["track"], "TRK 1");
    EXPECT_EQ(at(editor.layers(), 0)["trackHelp"], "Controls track 1 via the main Mackie surface.");
    EXPECT_EQ(at(editor.layers(), 8)["track"], "XT 9");
    EXPECT_TRUE(at(editor.layers(), 8)["trackHelp"].toString().startsWith(
        "Controls track 9 via the Mackie Extender (\"Strata XT\" port)."));
    EXPECT_EQ(at(editor.layers(), 0)["dawLine"],
              QStringLiteral("waiting for DAW track name\u2026"));
    EXPECT_FALSE(editor.canUseDawNames());

    rig.service->mackieSlotNames.set({{0, "Pno"}, {2, "Pad 2"}, {3, ""}});
    EXPECT_TRUE(editor.canUseDawNames());
    EXPECT_EQ(at(editor.layers(), 0)["dawLine"], "DAW: Pno");
    editor.useDawNames();
    const auto& layers = rig.state->setlist().layers;
    EXPECT_EQ(layers[0].name, "Pno");
    EXPECT_EQ(layers[1].name, "Poly");
    EXPECT_EQ(layers[2].name, "Pad 2");
    EXPECT_EQ(layers[3].name, "Lead"); // an empty name read back changes nothing

    ui().live.setControlMode("ccMute");
    rig.settle();
    EXPECT_FALSE(editor.canUseDawNames());
    EXPECT_EQ(at(editor.layers(), 0)["track"], "");
}

} // namespace
} // namespace strata::testing
