// Learning triggers through the coordinator on virtual time: what a learned NEXT, section or
// Moment trigger does, and how a learn is left.

#include "live_rig.h"

using namespace strata;
using namespace strata::testing;

namespace {

const AdvanceTrigger kNext{"Pedal", AdvanceTrigger::Kind::note, 60};

class TriggerLearningTest : public LiveTest {
protected:
    // Sections a, b, c; NEXT is the pedal's note 60.
    void startWithNext() {
        start(makeSet({{"One", "a", "b", "c"}}, ControlMode::ccMute));
        live->appear();
        service->advanceTrigger.set(kNext);
        service->resolveTriggerSource();
        settle();
    }
    bool learning() const { return service->isLearningTrigger(); }
};

} // namespace

TEST_F(TriggerLearningTest, ALearnEndsByItselfAfterThirtySecondsKeepingTheOldTrigger) {
    startWithNext();
    live->learnNextTrigger();
    loop.advance(LiveCoordinator::kLearnTimeout - std::chrono::milliseconds(1));
    settle();
    EXPECT_TRUE(learning());
    // Starting another learn starts the wait again.
    live->learnJumpTrigger(section(2).id);
    loop.advance(LiveCoordinator::kLearnTimeout - std::chrono::milliseconds(1));
    settle();
    EXPECT_TRUE(learning());
    loop.advance(std::chrono::milliseconds(1));
    settle();
    EXPECT_FALSE(learning());
    EXPECT_EQ(app->learnTarget(), std::nullopt);

    // Every trigger works again, as it was.
    footswitch({0x90, 60, 100});
    settle();
    EXPECT_EQ(service->advanceTrigger(), kNext);
    EXPECT_EQ(section(2).jumpTrigger, std::nullopt);
    EXPECT_EQ(app->currentSectionIndex(), 1);
}

TEST_F(TriggerLearningTest, CancellingWinsOverAPressAlreadyOnItsWay) {
    startWithNext();
    struct Case {
        const char* what;
        std::function<void()> learn;
    };
    const std::vector<Case> cases{
        {"NEXT", [&] { live->learnNextTrigger(); }},
        {"a section", [&] { live->learnJumpTrigger(section(2).id); }},
    };
    for (const Case& c : cases) {
        c.learn();
        // The input thread has heard a press and handed it over; the performer cancels first.
        midi.sendFromSource(pedal, {{0x90, 61, 100}});
        live->cancelLearning();
        settle();
        EXPECT_FALSE(learning()) << c.what;
        EXPECT_EQ(app->learnTarget(), std::nullopt) << c.what;
        EXPECT_EQ(service->advanceTrigger(), kNext) << c.what;
        EXPECT_EQ(section(2).jumpTrigger, std::nullopt) << c.what;
    }
    // The pedal does what it did before.
    footswitch({0x90, 60, 100});
    settle();
    EXPECT_EQ(app->currentSectionIndex(), 1);
}

TEST_F(TriggerLearningTest, ALearnedMomentTriggerFiresItOnlyInItsSectionAndOnlyByHand) {
    Setlist set = makeSet({{"One", "a", "b"}}, ControlMode::ccMute);
    Moment drop = Moment::fresh();
    drop.name = "Drop B";
    drop.anchor = FireAnchor::manual();
    drop.muteLayerIDs = {set.layers[1].id};
    drop.ccSends = {CCSend{Uuid::random(), "Synth", 5, 91, 100}};
    set.songs[0].sections[0].moments = {drop};
    show(std::move(set));
    synthHeard();

    live->learnMomentTrigger(drop.id);
    footswitch({0x90, 40, 100});
    settle();
    const AdvanceTrigger learned{"Pedal", AdvanceTrigger::Kind::note, 40};
    EXPECT_EQ(section(0).moments[0].trigger, learned);
    EXPECT_EQ(synthHeard(), Packets{}); // learning fires nothing

    // As TEST does: its messages, then the mute state once.
    footswitch({0x90, 40, 100});
    settle();
    Packets fired{{0xB4, 91, 100}};
    for (const auto& cc : ccRound({1}))
        fired.push_back(cc);
    EXPECT_EQ(synthHeard(), fired);
    EXPECT_TRUE(app->hasFired(drop.id));

    // In another section the press does nothing.
    app->advance();
    settle();
    synthHeard();
    footswitch({0x90, 40, 100});
    settle();
    EXPECT_EQ(synthHeard(), Packets{});
    EXPECT_EQ(app->currentSectionIndex(), 1);

    // Back in its section, but no longer a hand-fired Moment: the trigger is kept and idle.
    app->retreat();
    app->updateSetlist([](Setlist& s) {
        s.songs[0].sections[0].moments[0].anchor = FireAnchor::onSectionEnter();
        return true;
    });
    settle();
    synthHeard();
    footswitch({0x90, 40, 100});
    settle();
    EXPECT_EQ(synthHeard(), Packets{});
    EXPECT_EQ(section(0).moments[0].trigger, learned);
}

TEST_F(TriggerLearningTest, LearningANextTriggerAndASectionTrigger) {
    show(makeSet({{"One", "a", "b", "c"}}, ControlMode::ccMute));
    const MidiRef keys = midi.addSource("Keys");
    midi.notifySetupChanged();
    settle();

    // NEXT: the learned key moves on from then on (its storing: the toolbar's QML test).
    live->learnNextTrigger();
    midi.sendFromSource(keys, {{0x90, 60, 90}});
    settle();
    const AdvanceTrigger learned{"Keys", AdvanceTrigger::Kind::note, 60};
    EXPECT_EQ(service->advanceTrigger(), learned);
    EXPECT_FALSE(service->isLearningTrigger());
    EXPECT_EQ(app->learnTarget(), std::nullopt);
    midi.sendFromSource(keys, {{0x90, 60, 90}});
    settle();
    EXPECT_EQ(app->currentSectionIndex(), 1);

    // A section: the trigger is stored on it and jumps there at once.
    live->learnJumpTrigger(section(2).id);
    midi.sendFromSource(keys, {{0xB0, 21, 127}});
    settle();
    const AdvanceTrigger jump{"Keys", AdvanceTrigger::Kind::cc, 21};
    EXPECT_EQ(section(2).jumpTrigger, jump);
    EXPECT_EQ(service->advanceTrigger(), learned);
    app->setCurrentSectionIndex(0);
    settle();
    midi.sendFromSource(keys, {{0xB0, 21, 127}});
    settle();
    EXPECT_EQ(app->currentSectionIndex(), 2);

    // Refused (sustain pedal): the target is cleared and nothing else changes.
    live->learnJumpTrigger(section(0).id);
    midi.sendFromSource(keys, {{0xB0, 64, 127}});
    settle();
    EXPECT_EQ(app->learnTarget(), std::nullopt);
    EXPECT_EQ(section(0).jumpTrigger, std::nullopt);
    EXPECT_EQ(service->advanceTrigger(), learned);
}
