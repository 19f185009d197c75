// The section grid and its editors as view models over the real core: the words they build from the
// document and the edits their controls make.

#include "editor_texts.h"
#include "support/records.h"
#include "ui_rig.h"
#include "ui_text.h"

#include <gtest/gtest.h>

namespace strata::testing {
namespace {

// ---- Texts -------------------------------------------------------------------------------------

// The badge cycle and the momentary arrow are seen in the grid's QML test; here, the last step's
// badge, which holds whatever the step stores.
TEST(EditorTexts, TheLastStepsBadgeHoldsWhateverItStores) {
    SectionStep step = SectionStep::fresh();
    step.advanceBars = 4;
    EXPECT_EQ(editor::stepBadge(step, false).text, "4 bars \u2192");
    const auto last = editor::stepBadge(step, true);
    EXPECT_EQ(last.text, "hold");
    EXPECT_FALSE(last.clickable);
}

TEST(EditorTexts, BadgeCycleGoesThroughTwoFourEightAndTreatsOthersAsNone) {
    using B = std::optional<std::int64_t>;
    const std::pair<B, B> cases[] = {
        {std::nullopt, 2}, {2, 4}, {4, 8}, {8, std::nullopt}, {3, 2}, {0, 2}, {-4, 2}, {16, 2}};
    for (const auto& [from, to] : cases)
        EXPECT_EQ(editor::nextAdvanceBars(from), to) << (from ? *from : -1);
}

TEST(EditorTexts, JumpChipNamesTheControlAndItsDeviceWhenKnown) {
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

class EditorModels : public ::testing::Test {
protected:
    EditorModels() {
        rig.settings.setBool(LiveCoordinator::kShowModeChooserKey, false);
        rig.settings.setBool(LiveCoordinator::kHasSeenQuickStartKey, true);
        rig.app->setSetlist(UiRig::demoSet());
        rig.app->setMode(StrataMode::pro);
        rig.settle();
    }
    UiModels& ui() { return *rig.models; }
    static QVariantMap at(const RowListModel* list, int i) { return list->get(i); }
    UiRig rig;
};

TEST_F(EditorModels, LayerRowsInMackieModeAndTheDawNames) {
    auto& editor = ui().layerEditor;
    while (rig.app->setlist().layers.size() < 10)
        editor.addLayer();
    const Layer added = rig.app->setlist().layers.at(6);
    EXPECT_EQ(added.name, "Layer 7");
    EXPECT_EQ(added.channel, 7); // one above the highest channel in use
    EXPECT_EQ(added.muteCC, 26);
    EXPECT_EQ(editor.layers()->count(), 10);
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

} // namespace
} // namespace strata::testing
