#include "midi/mackie_output.h"

#include "midi/mackie_protocol.h"
#include "midi/surface_feedback.h"
#include "platform/thread_check.h"

#include <algorithm>
#include <utility>

namespace strata {

namespace {

// 32 bank-left presses bring any bank of up to 256 tracks back to the first track.
constexpr int kBankLeftPresses = 32;

// Presses that go out no faster than one every other cycle from cycle `from` on: how many may
// have gone out before cycle `carries`.
std::int64_t pressesBefore(std::uint64_t carries, std::uint64_t from) {
    return carries > from ? static_cast<std::int64_t>((carries - from + 1) / 2) : 0;
}

// The first track a surface shows for an offset: rounded toward zero to a bank of 8, never below
// the first track and never beyond kMaxBankOffset. The upper bound keeps a corrupt offset from
// turning into billions of bank presses that would hold up all output (and the panic, which
// waits for the queue); it lies far beyond any session a 32-press return to the start covers.
std::int64_t bankBase(std::int64_t offset) {
    return std::clamp<std::int64_t>(trunc8(offset), 0, MackieOutput::kMaxBankOffset);
}

} // namespace

MackieOutput::MackieOutput(OutputPath& out, std::function<void()> settled)
    : out_(out), settled_(std::move(settled)) {}

void MackieOutput::forgetPositions() {
    // Only the positions: positionBank drops the slots of a unit whose bank goes elsewhere, and
    // keeps them where the strips will show the same tracks again.
    for (auto& position : positions_)
        position.reset();
    for (auto& u : units_)
        u.leftPresses.reset();
}

std::int64_t MackieOutput::sendBankMoves(Unit unit, std::string_view port, std::int64_t rights) {
    UnitState& u = units_[unit];
    // The newcomer heard the rest of the last return only on the port that return went to.
    std::int64_t lefts =
        u.leftPresses && port == u.returnPort ? *u.leftPresses : std::int64_t{kBankLeftPresses};
    u.leftPresses.reset();
    const Stamp queued = out_.sendStamp();
    // A DAW reported connected a moment ago: its connection carries from the second cycle after
    // the report (a cycle already running uses the old graph), and the first moves may go out
    // before that.
    if (lefts >= kBankLeftPresses && u.connectedAt && out_.cyclePeriod() > Duration::zero())
        lefts += pressesBefore(u.connectedAt->cycle + 2, queued.cycle);
    // Only a full return is a base a later connection can count on.
    if (lefts >= kBankLeftPresses) {
        u.returnQueuedAt = queued;
        u.returnPort = std::string(port);
        u.rightsAfterReturn = rights;
    } else {
        u.returnQueuedAt.reset();
    }
    // Every bank press in a cycle of its own, and a break before whatever depends on the moves.
    for (std::int64_t i = 0; i < lefts; ++i) {
        out_.pressButton(mackie::kBankLeft, port);
        out_.cycleBreak(port);
    }
    for (std::int64_t i = 0; i < rights; ++i) {
        out_.pressButton(mackie::kBankRight, port);
        out_.cycleBreak(port);
    }
    return lefts;
}

bool MackieOutput::positionBank(std::string_view port, std::int64_t desiredOffset,
                                bool isExtender) {
    const std::int64_t target = bankBase(desiredOffset);
    const Unit unit = isExtender ? kExtenderUnit : kMainUnit;
    auto& position = positions_[unit];
    if (position && *position == target)
        return false;
    const std::int64_t rights = desiredOffset >= 8 ? target / 8 : 0;
    const std::int64_t lefts = sendBankMoves(unit, port, rights);
    // Strips that will show other tracks: their mutes are unknown until the DAW reports them.
    // Where the bank returns to where it was (or where it was never known to be), what we know
    // stays: the DAW resends nothing for bank presses that do not move its bank, and it reports
    // the new tracks' LEDs when they do.
    UnitState& u = units_[unit];
    if (u.lastKnownPosition && (*u.lastKnownPosition != target || u.lastKnownPort != port)) {
        const int first = isExtender ? 8 : 0;
        for (int slot = first; slot < first + 8; ++slot)
            muted_[static_cast<std::size_t>(slot)].reset();
    }
    position = target;
    u.lastKnownPosition = target;
    u.lastKnownPort = std::string(port);
    u.pendingChannelRights = 0;
    startSettle(unit, port, lefts + rights);
    return true;
}

bool MackieOutput::positionGroup(std::string_view port, std::int64_t desiredOffset) {
    const std::int64_t target = bankBase(desiredOffset);
    auto& position = positions_[kMainUnit];
    if (position && *position == target)
        return false;
    // From the main unit alone: the host moves the whole group of 16 strips by 16 per bank press
    // and ignores the extender's bank buttons.
    const std::int64_t lefts = sendBankMoves(kMainUnit, port, target / 16);
    // Both units' strips follow the group; what is known of them stays only where the group
    // returns to where it was (as for a single unit, see positionBank).
    UnitState& u = units_[kMainUnit];
    if (u.lastKnownPosition && (*u.lastKnownPosition != target || u.lastKnownPort != port))
        for (auto& slot : muted_)
            slot.reset();
    position = target;
    u.lastKnownPosition = target;
    u.lastKnownPort = std::string(port);
    // The remaining half of a group goes by channel, after the bank has settled.
    u.pendingChannelRights = target % 16;
    startSettle(kMainUnit, port, lefts + target / 16);
    return true;
}

void MackieOutput::nudgeGroup(std::string_view port) {
    UnitState& u = units_[kMainUnit];
    if (u.settling || u.pendingChannelRights == 0)
        return;
    const std::int64_t presses = std::exchange(u.pendingChannelRights, 0);
    // Channel moves behind the bank moves: a newcomer that hears only some of them is not
    // brought back by a few bank-left presses.
    u.returnQueuedAt.reset();
    // The strips move on from where the bank moves left them; what the host reported after
    // those is about tracks the strips no longer show.
    for (std::size_t slot = 0; slot < muted_.size(); ++slot) {
        muted_[slot].reset();
        holds_[slot] = SlotHold{};
    }
    // One press per cycle: the host takes several channel moves in one cycle as fewer.
    for (std::int64_t i = 0; i < presses; ++i) {
        out_.pressButton(mackie::kChannelRight, port);
        out_.cycleBreak(port);
    }
    startSettle(kMainUnit, port, presses);
}

void MackieOutput::pump(const SectionRequest& r) {
    releaseHolds();
    const std::string_view mainPort = mainSurfacePort(r.mackiePort);
    const std::int64_t base = bankBase(r.mackieTrackOffset);
    const bool ardour = r.host == DawHost::ardour;
    // Ardour banks the main unit and the extender in use as one group.
    const bool grouped = ardour && r.allLayers.size() >= 9;
    // The panic positions the extender however many layers there are; Ardour ignores the
    // extender's bank buttons, so it never gets any.
    const bool extender = !ardour && (r.allOn || r.allLayers.size() >= 9);

    // Banks first; a unit whose bank moves holds its presses until it has settled.
    if (grouped) {
        positionGroup(mainPort, base);
        nudgeGroup(mainPort);
        // A DAW that has just connected to the extender reports its strips shortly.
        UnitState& x = units_[kExtenderUnit];
        if (x.connectedAt && !x.settling && !out_.hasPassed(*x.connectedAt, kConnectionSettle))
            startSettle(kExtenderUnit, kExtenderPort, 0);
    } else {
        positionBank(mainPort, base, false);
    }
    if (extender)
        positionBank(kExtenderPort, base + 8, true);

    // Then the mutes that differ from the shadow, in slot order. The panic releases every slot
    // believed muted; a section presses each visible layer's slot whose state differs.
    const std::size_t slots =
        r.allOn ? static_cast<std::size_t>(kSlots)
                : std::min<std::size_t>(extender || grouped ? kSlots : 8, r.allLayers.size());
    for (std::size_t i = 0; i < slots; ++i) {
        if (units_[i < 8 ? kMainUnit : kExtenderUnit].settling ||
            (grouped && units_[kMainUnit].settling))
            continue;
        const bool wanted = !r.allOn && r.mutedIDs.count(r.allLayers[i].id) != 0;
        auto& believed = muted_[i];
        if (wanted == believed.value_or(false))
            continue;
        out_.pressButton(mackie::muteNote(static_cast<int>(i % 8)),
                         i <= 7 ? mainPort : kExtenderPort);
        believed = wanted;
        holds_[i] = SlotHold{out_.sendStamp(), std::nullopt};
    }
}

std::optional<std::vector<int>> MackieOutput::plannedPresses(const SectionRequest& r) const {
    if (r.allOn || r.mode != ControlMode::mackieControl)
        return std::nullopt;
    const std::int64_t base = bankBase(r.mackieTrackOffset);
    const bool ardour = r.host == DawHost::ardour;
    const bool grouped = ardour && r.allLayers.size() >= 9;
    const bool extender = !ardour && r.allLayers.size() >= 9;
    // As pump would see it: no bank move, nothing settling, no report awaited.
    const auto still = [&](Unit unit, std::int64_t target) {
        const UnitState& u = units_[unit];
        return positions_[unit] && *positions_[unit] == target && !u.settling && !u.connectedAt &&
               u.pendingChannelRights == 0;
    };
    if (!still(kMainUnit, base))
        return std::nullopt;
    if (grouped && (units_[kExtenderUnit].settling || units_[kExtenderUnit].connectedAt))
        return std::nullopt;
    if (extender && !still(kExtenderUnit, bankBase(base + 8)))
        return std::nullopt;
    const std::size_t slots =
        std::min<std::size_t>(extender || grouped ? kSlots : 8, r.allLayers.size());
    std::vector<int> presses;
    for (std::size_t i = 0; i < slots; ++i) {
        // A report held back would overwrite the shadow once its hold ends.
        const SlotHold& hold = holds_[i];
        if (hold.pressedAt && hold.reported && *hold.reported != muted_[i].value_or(false))
            return std::nullopt;
        const bool wanted = r.mutedIDs.count(r.allLayers[i].id) != 0;
        if (wanted != muted_[i].value_or(false))
            presses.push_back(static_cast<int>(i));
    }
    return presses;
}

void MackieOutput::pressedElsewhere(const SectionRequest& r, const std::vector<int>& slots) {
    const std::string_view mainPort = mainSurfacePort(r.mackiePort);
    for (int slot : slots) {
        const auto i = static_cast<std::size_t>(slot);
        if (i >= muted_.size() || i >= r.allLayers.size())
            continue;
        muted_[i] = r.mutedIDs.count(r.allLayers[i].id) != 0;
        holds_[i] = SlotHold{out_.stampNow(), std::nullopt};
        out_.notePressed(mackie::muteNote(slot % 8), i < 8 ? mainPort : kExtenderPort);
    }
}

void MackieOutput::releaseHolds() {
    const Duration span = answerTime();
    for (std::size_t slot = 0; slot < holds_.size(); ++slot) {
        SlotHold& hold = holds_[slot];
        if (!hold.pressedAt || !out_.hasPassed(*hold.pressedAt, span))
            continue;
        if (hold.reported)
            muted_[slot] = *hold.reported;
        hold = SlotHold{};
    }
}

void MackieOutput::feedLeds(const std::uint8_t* bytes, std::size_t length, int firstSlot) {
    releaseHolds();
    forEachMuteLed(bytes, length, [&](int strip, bool lit) {
        const auto slot = static_cast<std::size_t>(firstSlot + strip);
        if (holds_[slot].pressedAt)
            holds_[slot].reported = lit;
        else
            muted_[slot] = lit;
    });
}

bool MackieOutput::ready(Unit unit, std::string_view port) {
    UnitState& u = units_[unit];
    if (u.settling)
        return false;
    if (u.connectedAt && !out_.hasPassed(*u.connectedAt, kConnectionSettle)) {
        // Its report of the state it has now is due; what depends on it waits.
        startSettle(unit, port, 0);
        return false;
    }
    return true;
}

void MackieOutput::connected(Unit unit, Stamp at) {
    // A new listener (a DAW started later, restarted, or wired up by hand) missed the bank moves
    // and the mutes: forget what we knew of this unit. It reports its whole state shortly.
    auto& u = units_[unit];
    u.leftPresses = missedLeftPresses(u, at);
    positions_[unit].reset();
    u.lastKnownPosition.reset();
    u.lastKnownPort.clear();
    u.settling = false; // a settle in progress is for a bank the newcomer never saw
    u.connectedAt = at;
    const int first = unit == kExtenderUnit ? 8 : 0;
    for (int slot = first; slot < first + 8; ++slot) {
        muted_[static_cast<std::size_t>(slot)].reset();
        holds_[static_cast<std::size_t>(slot)] = SlotHold{};
    }
}

std::int64_t MackieOutput::missedLeftPresses(const UnitState& u, const Stamp& at) const {
    // Where everything goes out at once, or once the moves have all gone out, the newcomer
    // missed all of them.
    if (!u.returnQueuedAt || out_.cyclePeriod() <= Duration::zero())
        return kBankLeftPresses;
    const MidiRef source = out_.ports().surfaceSource(u.returnPort);
    if (source == 0 || !out_.backend().outputPending(source))
        return kBankLeftPresses;
    // The connection carries from the second cycle after the one it was reported in. The moves
    // that may have gone out before are the ones it missed; it hears the rest of the return,
    // then the bank-right presses behind it.
    const std::int64_t missed = pressesBefore(at.cycle + 2, u.returnQueuedAt->cycle);
    return std::min<std::int64_t>(kBankLeftPresses, missed + u.rightsAfterReturn);
}

void MackieOutput::startSettle(Unit unit, std::string_view port, std::int64_t presses) {
    STRATA_ASSERT_THREAD(out_.tasks().queue());
    auto& u = units_[unit];
    u.settling = true;
    u.settleToken = ++nextSettleToken_;
    // The bank presses go out a cycle apart (see MidiBackend::barrier).
    SettleWatch& w = settleWatch_[unit];
    w.source = out_.ports().surfaceSource(port);
    w.giveUpAt = out_.tasks().loop().now() + kSettleLimit + 2 * presses * out_.cyclePeriod();
    w.drainedAt.reset();
    w.connectedAt = u.connectedAt;
    // A system that hands everything over at once has nothing pending: the wait for the answer
    // starts now, not when the first check happens to look.
    if (w.source == 0 || !out_.backend().outputPending(w.source))
        drained(w);
    armSettleCheck(unit, u.settleToken);
}

void MackieOutput::drained(SettleWatch& w) {
    w.drainedAt = out_.stampNow();
    w.giveUpAt = std::max(w.giveUpAt, w.drainedAt->time + kSettleLimit);
}

void MackieOutput::finishSettle(Unit unit, std::uint64_t token) {
    auto& u = units_[unit];
    if (!u.settling || u.settleToken != token)
        return; // superseded by a later bank move or a new connection
    u.settling = false;
    u.connectedAt.reset();
    settled_();
}

Duration MackieOutput::answerTime() const {
    return std::max<Duration>(kSettleTime, kSettleCycles * out_.cyclePeriod());
}

void MackieOutput::armSettleCheck(Unit unit, std::uint64_t token) {
    out_.tasks().onQueueAt(out_.tasks().loop().now() + kSettlePoll,
                           [this, unit, token] { checkSettle(unit, token); });
}

void MackieOutput::checkSettle(Unit unit, std::uint64_t token) {
    STRATA_ASSERT_THREAD(out_.tasks().queue());
    const UnitState& u = units_[unit];
    if (!u.settling || u.settleToken != token)
        return; // superseded by a later bank move or a new connection, whose check is its own
    SettleWatch& w = settleWatch_[unit];
    // The bank moves go out one per cycle; the DAW's answer to the last one can only come after
    // it has left. Until then nothing ends the settle: presses sent meanwhile would only queue
    // behind the moves and reach the DAW before its report of the new bank reaches us, and a
    // busy machine can hold a running server's cycles back for seconds. (A server that has gone
    // away has nothing pending.)
    if (!w.drainedAt) {
        if (w.source != 0 && out_.backend().outputPending(w.source)) {
            armSettleCheck(unit, token);
            return;
        }
        drained(w);
    }
    bool done = out_.tasks().loop().now() >= w.giveUpAt;
    if (!done) {
        // Counted in cycles whose input has reached the MIDI queue: the DAW's report for the new
        // bank may have been read in time and still wait for a busy input thread.
        done = out_.inputHasPassed(*w.drainedAt, answerTime()) &&
               (!w.connectedAt || out_.inputHasPassed(*w.connectedAt, kConnectionSettle));
    }
    if (!done) {
        armSettleCheck(unit, token);
        return;
    }
    // Handed on rather than ended here: the input handlers pass what they read to this queue
    // before the cycles that read it count as delivered, so a job submitted now runs after every
    // report those cycles carried, and the presses that waited go out after the queue has taken
    // them in.
    out_.tasks().onQueue([this, unit, token] { finishSettle(unit, token); });
}

} // namespace strata
