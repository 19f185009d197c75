#pragma once

#include "midi/output_path.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace strata {

// Mute output as a Mackie Control surface and extender: bank positions, the settle that follows a
// bank move, the shadow of the DAW's mute buttons, and the panic's releases.
//
// A DAW's mute button is a toggle, so a press is only right when the shadow is. Whenever a unit's
// bank is (re)positioned (the first push, after a shadow reset, after a DAW connects, when the
// offset changes) the bank moves go out one per cycle, and the presses that depend on them wait
// until the DAW's LED feedback for the new bank has had time to arrive: until the moves have left
// the backend, a few cycles more have passed and what those cycles read has been handed on to the
// MIDI queue (and, after a new connection, until the DAW's full-state report is due and handed
// on as well). The wait is watched on the MIDI queue itself, by a check that comes back every few
// milliseconds on the queue's own clock: the mutes behind it never wait for the main thread, which
// may be busy (building a window, say), and it blocks neither thread. Meanwhile section changes
// only update the last requested state; when the wait ends, what still differs from the shadow is
// pressed. The shadow keeps what is known (the DAW resends nothing for bank presses that do not
// move the bank) and the DAW's LED reports overwrite it, except that a report for a strip we
// pressed a moment ago is held back until that press can have been answered (it may answer an
// earlier one).
//
// DAW hosts. Logic Pro / MainStage: each unit banks on its own, 8 tracks per bank-right press.
// Ardour: with the extender in use, the host banks both units as one group of 16 strips from the
// main unit and ignores the extender's bank buttons. The group is positioned from the main unit
// alone: back to the first track, then one bank-right press per 16 tracks, and where 8 tracks
// remain, 8 channel-right presses, one per cycle, once the bank moves have settled (the host takes
// channel moves sent alongside bank moves wrongly); the presses that depend on it wait for a second
// settle. Without the extender, banking is as for Logic.
//
// Threads: the MIDI queue owns the shadow, the positions, the units and the settles in progress.
// `settled` is called on the MIDI queue when a settle ends, to send what waited for it.
class MackieOutput {
public:
    // The two units: the main surface (slots 0-7) and the extender (slots 8-15).
    enum Unit : int { kMainUnit = 0, kExtenderUnit = 1 };
    static constexpr int kSlots = 16;
    // Track offsets beyond this are treated as this (256 banks of 8).
    static constexpr std::int64_t kMaxBankOffset = 2048;
    // After a unit's bank moves have gone out: how long (and, on a system that runs in cycles,
    // how many cycles at least) until the DAW's LED reports for the new bank count as in. DAWs
    // answer one to two cycles after a bank move.
    static constexpr Duration kSettleTime = std::chrono::milliseconds(25);
    static constexpr int kSettleCycles = 4;
    // After a DAW connects to a surface port it reports its whole surface state about 100 ms
    // later; a settle that follows a connection lasts at least this long from the connection.
    static constexpr Duration kConnectionSettle = std::chrono::milliseconds(250);
    // Once its bank moves have gone out, no settle lasts longer than this, whatever the MIDI
    // system does (a server that stops running cycles, say). Until they have, it waits for them.
    static constexpr Duration kSettleLimit = std::chrono::seconds(3);
    // How often the MIDI queue looks at a settle in progress.
    static constexpr Duration kSettlePoll = std::chrono::milliseconds(2);

    MackieOutput(OutputPath& out, std::function<void()> settled);

    // MIDI queue. Moves the banks where needed (each move starts that unit's settle), then presses
    // what differs on every unit that is not settling. `r` asks for Mackie output.
    void pump(const SectionRequest& r);
    // Forgets both bank positions, so that the next push positions the banks again and lets them
    // settle before it presses anything. The shadow is kept for strips that will show the same
    // tracks again, and dropped for a unit whose bank goes elsewhere: the DAW resends nothing for
    // bank presses that do not move its bank, so an emptied shadow could not be rebuilt, while its
    // LED reports correct a kept one.
    void forgetPositions();
    // The LED reports of one chunk of a unit's feedback, into slots `firstSlot` .. + 7.
    void feedLeds(const std::uint8_t* bytes, std::size_t length, int firstSlot);
    // Applies the held-back LED reports of strips whose presses are answered by now.
    void releaseHolds();
    // Whether other output may go to the surface `unit` now: not while its bank settles, nor while
    // a DAW that has just connected to it may still be reporting its state (that starts a settle).
    bool ready(Unit unit, std::string_view port);
    // A DAW connected to the unit's port: it missed the bank moves and the mutes.
    void connected(Unit unit, Stamp at);

    // The slots pump(r) would press right now, when that is all it would do: none when a bank
    // would move, a unit settles or waits for a newly connected DAW's report, or a held-back LED
    // report would change the shadow first. Changes nothing.
    std::optional<std::vector<int>> plannedPresses(const SectionRequest& r) const;
    // The presses plannedPresses(r) returned went out by another way: the shadow takes them
    // as if pump had sent them.
    void pressedElsewhere(const SectionRequest& r, const std::vector<int>& slots);

    // Inspection (MIDI queue).
    const std::array<std::optional<bool>, kSlots>& muted() const { return muted_; }
    const std::optional<std::int64_t>& position(Unit unit) const { return positions_[unit]; }
    bool settling(Unit unit) const { return units_[unit].settling; }

private:
    // What the queue knows of one unit beyond its shadow slots and position.
    struct UnitState {
        // Where the bank was last moved to, and on which port; unlike the position, a shadow
        // reset keeps them, so that re-positioning to the same place can keep the shadow.
        std::optional<std::int64_t> lastKnownPosition;
        std::string lastKnownPort; // the port that position was reached on
        bool settling = false;
        std::uint64_t settleToken = 0;
        // When a DAW last connected to the unit's port and its full-state report is awaited.
        std::optional<Stamp> connectedAt;
        // Ardour's group of 16 strips: channel-right presses still to send once the bank moves
        // have settled (main unit only).
        std::int64_t pendingChannelRights = 0;
        // The last full return to the first track and the bank-right presses behind it: when
        // they were handed over and how many bank-right presses followed. A DAW that connects
        // while they still go out hears the rest of them.
        std::optional<Stamp> returnQueuedAt;
        std::string returnPort;
        std::int64_t rightsAfterReturn = 0;
        // How many bank-left presses the next positioning sends when not a full return: after
        // a DAW connected during one, as many as it may have missed plus the bank-right presses
        // it hears behind the rest.
        std::optional<std::int64_t> leftPresses;
    };

    // A strip we pressed: the DAW's LED reports for it that arrive before the press can have
    // been answered may still be about the state before it (an earlier press of ours on its
    // way), so the latest of them is held back until then.
    struct SlotHold {
        std::optional<Stamp> pressedAt;
        std::optional<bool> reported;
    };

    // A settle in progress, as its check sees it.
    struct SettleWatch {
        MidiRef source = 0; // the virtual source the bank moves went out of; 0 for a device
        TimePoint giveUpAt{};
        std::optional<Stamp> drainedAt;
        std::optional<Stamp> connectedAt;
    };

    // The bank-left presses (then the bank-right ones) of one positioning, one per cycle.
    // Returns how many bank-left presses went out.
    std::int64_t sendBankMoves(Unit unit, std::string_view port, std::int64_t rights);
    // For a DAW that connected at `at`: how many bank-left presses bring it to the first track
    // from wherever the moves still going out to it leave it.
    std::int64_t missedLeftPresses(const UnitState& u, const Stamp& at) const;
    // Returns whether the bank was moved.
    bool positionBank(std::string_view port, std::int64_t desiredOffset, bool isExtender);
    // Ardour: positions the group of 16 strips from the main unit. Returns whether it moved.
    bool positionGroup(std::string_view port, std::int64_t desiredOffset);
    // Ardour: the channel-right presses of a group position, once its bank moves have settled.
    void nudgeGroup(std::string_view port);
    // `presses`: the bank presses just sent, one cycle each.
    void startSettle(Unit unit, std::string_view port, std::int64_t presses);
    void finishSettle(Unit unit, std::uint64_t token);
    // How long the DAW may take to answer what has left the backend.
    Duration answerTime() const;

    // The settle check of `unit`, `kSettlePoll` from now; it ends with the settle it was armed
    // for (`token`), or once it has handed that settle's end on.
    void armSettleCheck(Unit unit, std::uint64_t token);
    // The bank moves of the settle `w` watches have left the backend.
    void drained(SettleWatch& w);
    void checkSettle(Unit unit, std::uint64_t token);

    OutputPath& out_;
    std::function<void()> settled_;

    // MIDI queue.
    std::array<std::optional<bool>, kSlots> muted_{};
    std::array<SlotHold, kSlots> holds_{};
    std::array<std::optional<std::int64_t>, 2> positions_{};
    std::array<UnitState, 2> units_{};
    std::uint64_t nextSettleToken_ = 0;
    std::array<SettleWatch, 2> settleWatch_{};
};

} // namespace strata
