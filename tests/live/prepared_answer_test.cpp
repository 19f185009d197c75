// Answers prepared ahead, with the test as the real-time side that claims them: a claimed answer's
// bytes are exactly what the MIDI queue would have sent, the queue takes them into its shadow
// before it computes anything of its own (no mute button is toggled twice or from a stale
// shadow), and the move is taken over exactly once, whichever thread learns of the claim first.

#include "live_rig.h"

#include <functional>

using namespace strata;
using namespace strata::testing;

namespace {

class PreparedAnswerTest : public LiveTest {
protected:
    // Mackie Control; song "One": S0 mutes nothing, S1 A and C, S2 C, S3 B and D. NEXT is
    // note 36 of the pedal.
    void startShow() {
        midi.takePreparedAnswers();
        storeNextTrigger(settings, {"Pedal", AdvanceTrigger::Kind::note, 36});
        Setlist set = makeSet({{"One", "S0", "S1", "S2", "S3"}}, ControlMode::mackieControl);
        muteAt(set, 0, 1, 0, {0, 2});
        muteAt(set, 0, 2, 0, {2});
        muteAt(set, 0, 3, 0, {1, 3});
        start(std::move(set));
        moves_ = service->reflexMoved.connect([this](const ReflexMove&) { ++moves; });
        live->appear();
        settleBanks();
        heard();
    }

    // Mute presses only (the bank moves of the first push are not of interest here).
    Packets mutePresses() {
        Packets out;
        for (Bytes& p : heard())
            if (p.size() == 3 && p[0] == 0x90 && p[1] >= 0x10 && p[1] < 0x18)
                out.push_back(std::move(p));
        return out;
    }

    int moves = 0;
    Connection moves_;
};

const Bytes kPedalNext{0x90, 36, 100};

TEST_F(PreparedAnswerTest, ClaimedAnswersAreTheQueuesOwnSendsAndEachMoveIsTakenOverOnce) {
    startShow();
    struct Step {
        const char* name;
        Bytes press;
        Packets answer; // heard as the press is read
        Position after;
    };
    // Each answer is prepared from the shadow the previous claimed answer left.
    const std::vector<Step> steps{
        {"NEXT to S1", kPedalNext, presses({mute(0), mute(2)}), {0, 1, 0}},
        {"NEXT to S2", kPedalNext, presses({mute(0)}), {0, 2, 0}},
        {"program change to S3", {0xC0, 3}, presses({mute(1), mute(2), mute(3)}), {0, 3, 0}},
        {"program change back to S0", {0xC2, 0}, presses({mute(1), mute(3)}), {0, 0, 0}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        ASSERT_TRUE(service->answersPrepared());
        const int movesBefore = moves;
        const auto claimed = midi.pressPrepared(pedal, s.press);
        ASSERT_TRUE(claimed.has_value());
        EXPECT_EQ(mutePresses(), s.answer);
        // The press reaches the input thread; the main thread takes the move over.
        midi.handAnswered(*claimed);
        settle();
        EXPECT_EQ(position(), s.after);
        EXPECT_EQ(moves, movesBefore + 1);
        EXPECT_EQ(mutePresses(), Packets{}); // nothing sent a second time
    }
    // A press that no answer fires for claims nothing.
    EXPECT_FALSE(midi.pressPrepared(pedal, {0x90, 37, 100}).has_value());
    EXPECT_FALSE(midi.pressPrepared(pedal, {0x90, 36, 0}).has_value());
}

TEST_F(PreparedAnswerTest, AFireThatLearnsOfAClaimFirstMovesOnFromTheClaimedPosition) {
    startShow();
    ASSERT_TRUE(service->answersPrepared());
    const auto claimed = midi.pressPrepared(pedal, {0xC0, 3});
    ASSERT_TRUE(claimed.has_value());
    EXPECT_EQ(mutePresses(), presses({mute(1), mute(3)}));
    // Cadenzo's FIRE for S1 arrives before the press reaches the input thread: the claimed move
    // comes first, and the FIRE's mutes are computed from the shadow it left (B and D muted).
    ASSERT_TRUE(service->answerCueJump(0, 1));
    service->drain();
    EXPECT_EQ(mutePresses(), presses({mute(0), mute(1), mute(2), mute(3)}));
    // The press arrives late: already taken over, nothing happens.
    midi.handAnswered(*claimed);
    settle();
    EXPECT_EQ(position(), (Position{0, 1, 0}));
    EXPECT_EQ(moves, 2);
    EXPECT_EQ(mutePresses(), Packets{});
}

TEST_F(PreparedAnswerTest, AFireAndTheRemotesNextSendThePreparedAnswerThemselves) {
    startShow();
    struct Step {
        const char* name;
        std::function<bool()> move;
        Packets answer; // heard before the MIDI queue has run
        Position after;
    };
    const std::vector<Step> steps{
        {"a FIRE for S3",
         [&] { return service->answerCueJump(0, 3); },
         presses({mute(1), mute(3)}),
         {0, 3, 0}},
        {"the remote's NEXT is the main thread's at the last section",
         [&] {
             service->remoteMove(ReflexTrigger::next, 0);
             return false;
         },
         {},
         {0, 3, 0}},
        {"a FIRE for S1, from the shadow S3 left",
         [&] { return service->answerCueJump(0, 1); },
         presses({mute(0), mute(1), mute(2), mute(3)}),
         {0, 1, 0}},
        {"the remote's NEXT to S2",
         [&] {
             service->remoteMove(ReflexTrigger::next, 0);
             return true;
         },
         presses({mute(0)}),
         {0, 2, 0}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        settle();
        ASSERT_TRUE(service->answersPrepared());
        const int sendsBefore = midi.preparedSends();
        const int movesBefore = moves;
        const bool prepared = s.move();
        EXPECT_EQ(midi.preparedSends(), sendsBefore + (prepared ? 1 : 0));
        EXPECT_EQ(mutePresses(), s.answer);
        settle();
        EXPECT_EQ(position(), s.after);
        EXPECT_EQ(moves, movesBefore + (prepared ? 1 : 0));
        EXPECT_EQ(mutePresses(), Packets{}); // nothing sent a second time
    }
}

TEST_F(PreparedAnswerTest, AFireNearThePositionOfALongSongFindsItsAnswerPrepared) {
    // 150 sections, A muted in the even ones; the position beyond the 128 sections a program
    // change can name, so only the answers kept for FIREs around the position (and NEXT's) serve
    // these.
    midi.takePreparedAnswers();
    storeNextTrigger(settings, {"Pedal", AdvanceTrigger::Kind::note, 36});
    Names names{"Long"};
    for (int k = 0; k < 150; ++k)
        names.push_back("S" + std::to_string(k));
    Setlist set = makeSet({names}, ControlMode::mackieControl);
    for (std::size_t k = 0; k < 150; k += 2)
        muteAt(set, 0, k, 0, {0});
    start(std::move(set));
    moves_ = service->reflexMoved.connect([this](const ReflexMove&) { ++moves; });
    live->appear();
    settleBanks();
    app->jump(140);
    settleBanks();
    heard();
    ASSERT_EQ(position(), (Position{0, 140, 0}));

    struct Step {
        const char* name;
        std::int64_t section;
        bool prepared; // else the MIDI queue computes the same bytes a moment later
    };
    const std::vector<Step> steps{
        {"the section before", 139, true},
        {"seven sections on", 146, true},
        {"eleven back", 135, true},
        {"thirteen on, out of every answer's reach", 148, false},
        {"the next, which NEXT's answer reaches", 149, true},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        settle();
        ASSERT_TRUE(service->answersPrepared());
        const int sendsBefore = midi.preparedSends();
        const int movesBefore = moves;
        ASSERT_TRUE(service->answerCueJump(0, s.section));
        EXPECT_EQ(midi.preparedSends(), sendsBefore + (s.prepared ? 1 : 0));
        // A's mute toggles on every move (even and odd sections alternate): heard at once when
        // prepared, once the MIDI queue (a thread of its own) ran otherwise, and only once
        // either way.
        Packets heard = mutePresses();
        if (s.prepared) {
            EXPECT_EQ(heard, presses({mute(0)}));
        }
        settle();
        EXPECT_EQ(position(), (Position{0, s.section, 0}));
        EXPECT_EQ(moves, movesBefore + 1);
        const Packets later = mutePresses();
        heard.insert(heard.end(), later.begin(), later.end());
        EXPECT_EQ(heard, presses({mute(0)}));
    }
}

} // namespace
