#include "midi_rig.h"

#include <gtest/gtest.h>

using namespace strata;
using namespace strata::testing;

namespace {

struct FeedbackRig : MidiRig {
    int namePublishes = 0;
    Connection counter =
        service->mackieSlotNames.changed.connect([this](const SlotNames&) { ++namePublishes; });

    void feedback(const Packets& packets, bool extender = false) {
        midi.sendToDestination(service->virtualDestinationRef(extender), packets);
        settle();
    }
    const SlotNames& names() const { return service->mackieSlotNames.get(); }
};

// Both rows of strip 0, seven cells each.
Packets stripZero(const std::string& top, const std::string& bottom) {
    return {lcdMessage(0, top), lcdMessage(56, bottom)};
}

} // namespace

TEST(SurfaceFeedback, LcdTextNamesTheStripsAndRepeatsPublishOnce) {
    FeedbackRig rig;
    rig.feedback({lcdMessage(0, "Piano  Strings")});
    EXPECT_EQ(rig.names(), (SlotNames{{0, "Piano"}, {1, "Strings"}}));
    EXPECT_EQ(rig.namePublishes, 1);
    rig.feedback({lcdMessage(0, "Piano  Strings")});
    EXPECT_EQ(rig.namePublishes, 1);
    // An offset past the display stores nothing and publishes nothing.
    rig.feedback({lcdMessage(112, "Organ")});
    EXPECT_EQ(rig.namePublishes, 1);
    // Text past the end of row 1 continues on row 2 and is cut at the end of the display.
    rig.feedback({lcdMessage(49, "Clav   Horns  ")});
    EXPECT_EQ(rig.names().at(7), "Clav");
    EXPECT_EQ(rig.names().at(0), "Piano"); // "Horns" on row 2 has as many letters: row 1 wins
    rig.feedback({lcdMessage(105, "  Xylophone")});
    EXPECT_EQ(rig.names().at(7), "Xylop");
}

TEST(SurfaceFeedback, TheRowWithMoreLettersNamesTheStrip) {
    struct Case {
        std::string top, bottom;
        std::optional<std::string> name;
    };
    const std::string nonAscii = "\xC3\xA9t\xC3\xA9  "; // UTF-8 text: not an ASCII cell
    for (const Case& c : {Case{" -6.0  ", "Bass   ", "Bass"}, Case{"Keys   ", " -6.0  ", "Keys"},
                          Case{"Abc    ", "  Xyz  ", "Abc"}, Case{nonAscii, "\tDrum\t ", "Drum"},
                          Case{nonAscii, nonAscii, std::nullopt}, Case{"       ", "       ", {}}}) {
        FeedbackRig rig;
        rig.feedback(stripZero(c.top, c.bottom));
        const auto it = rig.names().find(0);
        EXPECT_EQ(it == rig.names().end() ? std::nullopt : std::optional(it->second), c.name)
            << c.top << "|" << c.bottom;
    }
    EXPECT_EQ(letterCount("a1-B c\xC3\xA9"), 3u);
}

TEST(SurfaceFeedback, SysexIsAssembledAcrossPacketsAndLists) {
    FeedbackRig rig;
    const Bytes m = lcdMessage(0, "Piano  Strings");
    // Split inside one list, then across two lists, with stray bytes and LEDs around it.
    rig.feedback({Bytes(m.begin(), m.begin() + 5), Bytes(m.begin() + 5, m.begin() + 12)});
    EXPECT_TRUE(rig.names().empty());
    rig.feedback({Bytes(m.begin() + 12, m.end())});
    EXPECT_EQ(rig.names(), (SlotNames{{0, "Piano"}, {1, "Strings"}}));

    // A 0xF0 in the middle starts over; a foreign SysEx is ignored.
    Bytes restarted(m.begin(), m.begin() + 9);
    const Bytes fresh = lcdMessage(0, "Organ  ");
    restarted.insert(restarted.end(), fresh.begin(), fresh.end());
    rig.feedback({restarted, {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7}});
    EXPECT_EQ(rig.names(), (SlotNames{{0, "Organ"}, {1, "Strings"}}));
    EXPECT_EQ(rig.service->mackieShadow().sysexPending, 0u);
}

TEST(SurfaceFeedback, SysexLongerThan512BytesIsDropped) {
    // 7 header bytes + text + F7: 505 text bytes make 513 bytes, which still end in time.
    for (const auto& [textLength, applied] : {std::pair{505, true}, std::pair{506, false}}) {
        FeedbackRig rig;
        const Bytes m = lcdMessage(0, std::string(static_cast<std::size_t>(textLength), 'W'));
        Packets chunks;
        for (std::size_t at = 0; at < m.size(); at += 200)
            chunks.emplace_back(m.begin() + static_cast<long>(at),
                                m.begin() + static_cast<long>(std::min(at + 200, m.size())));
        rig.feedback(chunks);
        EXPECT_EQ(rig.names().count(0) == 1, applied) << textLength;
        EXPECT_EQ(rig.service->mackieShadow().sysexPending, 0u);
        // The parser is not stuck afterwards.
        rig.feedback({lcdMessage(7, "Bass   "), lcdMessage(63, "       ")});
        EXPECT_EQ(rig.names().at(1), "Bass");
    }
}

TEST(SurfaceFeedback, MuteLedsSetTheMainSurfaceShadow) {
    struct Case {
        Bytes chunk;
        std::optional<bool> slot2;
    };
    for (const Case& c :
         {Case{{0x90, 0x12, 0x7F}, true}, Case{{0x90, 0x12, 0x00}, false},
          Case{{0x90, 0x12, 0x01}, false}, Case{{0x95, 0x12, 0x40}, true},
          Case{{0x90, 0x18, 0x7F, 0x12, 0x7F}, std::nullopt}, Case{{0x90, 0x12}, std::nullopt},
          // A status byte where a data byte belongs cuts the message short and starts the next.
          Case{{0x90, 0x18, 0x90, 0x12, 0x7F}, true}, Case{{0x90, 0x12, 0x90, 0x12, 0x00}, false},
          Case{{0x90, 0x90, 0x12, 0x7F}, true}, Case{{0x80, 0x12, 0x7F}, std::nullopt}}) {
        FeedbackRig rig;
        rig.feedback({c.chunk});
        EXPECT_EQ(rig.service->mackieShadow().muted[2], c.slot2);
    }
}

TEST(SurfaceFeedback, ReportsOverlappingOurOwnPressesDoNotMisleadTheShadow) {
    FeedbackRig rig;
    const auto layers = makeLayers(2);
    rig.sendMackie(layers, {});
    rig.midi.clearHeard();
    const auto send = [&](const UuidSet& muted) {
        rig.queueMackie(layers, muted);
        rig.settle();
    };
    // Strip 1 pressed twice in quick succession; the DAW's answer to the first press (lit)
    // arrives only after the second has gone out. Taken at its word, it would make the third
    // change believe the strip muted already and skip the press the DAW needs.
    send(idsAt(layers, {0}));
    send({});
    rig.feedback({{0x90, 0x10, 0x7F}});
    send(idsAt(layers, {0}));
    Packets expected;
    press(expected, mute(0), 3);
    EXPECT_EQ(rig.heard(), expected);

    // The answers to the later presses, and a click of the user on strip 2 meanwhile: once the
    // presses are answered, the latest reports stand.
    rig.feedback({{0x90, 0x10, 0x00, 0x90, 0x11, 0x7F}});
    rig.feedback({{0x90, 0x10, 0x7F}});
    EXPECT_EQ(rig.service->mackieShadow().muted[1], true) << "no press of ours on strip 2";
    rig.loop.advance(MidiService::kSettleTime);
    const auto shadow = rig.service->mackieShadow();
    EXPECT_EQ(shadow.muted[0], true);
    // A report arriving after that (the user unmuted strip 1 in the DAW) is taken at once; the
    // next send presses what the reports say differs, the user's click on strip 2 as well.
    rig.feedback({{0x90, 0x10, 0x00}});
    EXPECT_EQ(rig.service->mackieShadow().muted[0], false);
    rig.midi.clearHeard();
    send(idsAt(layers, {0}));
    EXPECT_EQ(rig.heard(), presses({mute(0), mute(1)}));
}

TEST(SurfaceFeedback, AReportReadBeforeATimedPressIsDueDoesNotAnswerIt) {
    FeedbackRig rig;
    const auto layers = makeLayers(2);
    rig.sendMackie(layers, {});
    rig.midi.clearHeard();
    // Strip 1's press is queued ahead, due 15 ms on. The DAW reports strip 1 dark before that:
    // the state before the press. Counted from when it was queued, the wait for the press's
    // answer would be over 25 ms on and that report would stand; counted from its due time, it
    // is still on.
    const TimePoint due = rig.loop.now() + std::chrono::milliseconds(15);
    rig.service->sendSectionState(layers, idsAt(layers, {0}), ControlMode::mackieControl,
                                  std::nullopt, 0, DawHost::logic, due);
    rig.settle();
    Packets expected;
    press(expected, mute(0));
    EXPECT_EQ(rig.heard(), expected);
    rig.loop.advance(std::chrono::milliseconds(10));
    rig.feedback({{0x90, 0x10, 0x00}});
    rig.loop.advance(std::chrono::milliseconds(20));
    rig.feedback({{0x90, 0x11, 0x00}}); // strip 2 dark, as it is
    EXPECT_EQ(rig.service->mackieShadow().muted[0], true);
    // The answer, then the wait is over: it stands.
    rig.feedback({{0x90, 0x10, 0x7F}});
    rig.loop.advance(MidiService::kSettleTime);
    rig.feedback({{0x90, 0x11, 0x00}});
    EXPECT_EQ(rig.service->mackieShadow().muted[0], true);
}

TEST(SurfaceFeedback, ExtenderFeedbackSetsOnlyItsOwnMuteSlots) {
    FeedbackRig rig;
    rig.feedback({lcdMessage(0, "Piano  "), {0x90, 0x10, 0x7F, 0x90, 0x17, 0x00}}, true);
    EXPECT_TRUE(rig.names().empty());
    EXPECT_EQ(rig.namePublishes, 0);
    const auto shadow = rig.service->mackieShadow();
    EXPECT_FALSE(shadow.muted[0]);
    EXPECT_EQ(shadow.muted[8], true);
    EXPECT_EQ(shadow.muted[15], false);
    EXPECT_EQ(shadow.sysexPending, 0u);
    EXPECT_FALSE(rig.service->lastMackieRxAt.get());
}

TEST(SurfaceFeedback, ReceptionLightIsThrottledToHalfASecond) {
    FeedbackRig rig;
    int updates = 0;
    Connection c = rig.service->lastMackieRxAt.changed.connect(
        [&](const std::optional<TimePoint>&) { ++updates; });
    rig.feedback({{0x90, 0x10, 0x00}});
    const TimePoint first = *rig.service->lastMackieRxAt.get();
    rig.loop.advance(seconds(0.4));
    rig.feedback({{0x90, 0x10, 0x00}});
    EXPECT_EQ(updates, 1);
    rig.loop.advance(seconds(0.11));
    rig.feedback({{0x90, 0x10, 0x00}});
    EXPECT_EQ(updates, 2);
    EXPECT_EQ(*rig.service->lastMackieRxAt.get() - first, seconds(0.4) + seconds(0.11));
}
