#pragma once

#include "platform/prepared_answers.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace strata {

// The hand-over of prepared answers between ordinary threads and a real-time thread that reads
// the presses (the JACK process callback): a few preallocated tables, the one that is current,
// and one state word per table. Only atomics and copies: nothing here allocates, locks or calls
// the system.
//
// A table's state word holds its generation, the answer a press claimed and whether it is
// armed, claimed or withdrawn. The callback claims with a compare-and-swap (armed to claimed),
// an ordinary thread withdraws with one (armed to withdrawn): exactly one of them wins, and the
// loser learns from the word what the winner did. A claimed table's answer went out in the
// cycle of its press.
//
// Reclamation: a table stops being current when the next one is published; the publisher notes
// the cycle count then, and writes into that table again only once the callback has finished
// that cycle (the callback loads the current table after storing the cycle count, both
// sequentially consistent, so a later cycle can only see the newer table).
//
// Threads: publish and withdraw from ordinary threads, one at a time (the backend serialises
// them); claim only from the process callback, which never waits, allocates or calls the system.
class PreparedPool {
public:
    static constexpr std::size_t kTables = 8;
    enum State : std::uint64_t { kEmpty = 0, kArmed = 1, kClaimed = 2, kWithdrawn = 3 };

    static constexpr std::uint64_t word(std::uint64_t generation, std::size_t index, State state) {
        return generation << 16 | (std::uint64_t{index} & 0xFF) << 8 | state;
    }
    static constexpr std::uint64_t generationOf(std::uint64_t w) { return w >> 16; }
    static constexpr std::size_t indexOf(std::uint64_t w) { return (w >> 8) & 0xFF; }
    static constexpr State stateOf(std::uint64_t w) { return static_cast<State>(w & 0xFF); }

    struct Table {
        std::atomic<std::uint64_t> state{kEmpty};
        PreparedAnswerSet set;
        // The output channel of each of the set's outputs; -1: none.
        std::array<int, PreparedAnswer::kOutputs> channel{-1, -1};
        std::uint64_t retiredAt = 0; // publisher only
    };

    // What a claim found: the table, the answer, and the word it left.
    struct Claim {
        const Table* table = nullptr;
        std::size_t index = 0;
        std::uint64_t generation = 0;
    };

    // Publisher. Copies `set` into a free table and makes it current; false (nothing changes)
    // when no table is free yet: the callback has not finished the cycles that may still read
    // them. The current table must not be armed any more. `cycle` and `finishedCycle` are the
    // callback's counters.
    bool publish(const PreparedAnswerSet& set,
                 const std::array<int, PreparedAnswer::kOutputs>& channel, std::uint64_t generation,
                 const std::atomic<std::uint64_t>& cycle,
                 const std::atomic<std::uint64_t>& finishedCycle) {
        const int old = current_.load(std::memory_order_seq_cst);
        if (old >= 0 && stateOf(tables_[static_cast<std::size_t>(old)].state.load()) == kArmed)
            return false;
        const std::uint64_t finished = finishedCycle.load(std::memory_order_acquire);
        int freeIndex = -1;
        for (std::size_t i = 0; i < kTables; ++i) {
            if (static_cast<int>(i) == old || tables_[i].retiredAt > finished)
                continue;
            freeIndex = static_cast<int>(i);
            break;
        }
        if (freeIndex < 0)
            return false;
        Table& table = tables_[static_cast<std::size_t>(freeIndex)];
        table.set = set;
        table.channel = channel;
        table.state.store(word(generation, 0, kArmed), std::memory_order_release);
        current_.store(freeIndex, std::memory_order_seq_cst);
        if (old >= 0)
            tables_[static_cast<std::size_t>(old)].retiredAt =
                cycle.load(std::memory_order_seq_cst);
        return true;
    }

    // Publisher. No table is current any more (the callback claims nothing until the next
    // publish). The current table must not be armed any more.
    void retire(const std::atomic<std::uint64_t>& cycle) {
        const int old = current_.exchange(-1, std::memory_order_seq_cst);
        if (old >= 0)
            tables_[static_cast<std::size_t>(old)].retiredAt =
                cycle.load(std::memory_order_seq_cst);
    }

    // Ordinary threads, serialised with publish.
    PreparedOutcome withdraw(std::uint64_t generation) {
        for (Table& table : tables_) {
            std::uint64_t w = table.state.load(std::memory_order_acquire);
            if (generationOf(w) != generation || stateOf(w) == kEmpty)
                continue;
            if (stateOf(w) == kArmed &&
                table.state.compare_exchange_strong(w, word(generation, 0, kWithdrawn),
                                                    std::memory_order_acq_rel))
                return {PreparedOutcome::withdrawn, 0};
            // Either it was no longer armed, or the callback claimed it just now (`w` says).
            if (stateOf(w) == kClaimed)
                return {PreparedOutcome::claimed, indexOf(w)};
            return {PreparedOutcome::withdrawn, 0};
        }
        return {};
    }

    // Ordinary threads: what became of `generation`, without withdrawing it.
    PreparedOutcome outcome(std::uint64_t generation) const {
        for (const Table& table : tables_) {
            const std::uint64_t w = table.state.load(std::memory_order_acquire);
            if (generationOf(w) != generation || stateOf(w) == kEmpty)
                continue;
            switch (stateOf(w)) {
            case kArmed:
                return {PreparedOutcome::armed, 0};
            case kClaimed:
                return {PreparedOutcome::claimed, indexOf(w)};
            default:
                return {PreparedOutcome::withdrawn, 0};
            }
        }
        return {};
    }

    // Ordinary threads, serialised with publish: the table of `generation` while it is armed.
    const Table* armedTable(std::uint64_t generation) const {
        for (const Table& table : tables_) {
            const std::uint64_t w = table.state.load(std::memory_order_acquire);
            if (generationOf(w) == generation && stateOf(w) == kArmed)
                return &table;
        }
        return nullptr;
    }

    // Process callback. The current table when it is armed, else none.
    const Table* armed() const {
        const int index = current_.load(std::memory_order_seq_cst);
        if (index < 0)
            return nullptr;
        const Table& table = tables_[static_cast<std::size_t>(index)];
        return stateOf(table.state.load(std::memory_order_acquire)) == kArmed ? &table : nullptr;
    }

    // Claims answer `index` of `table` (found armed by armed() or armedTable()). The process
    // callback, or an ordinary thread serialised with publish.
    bool claim(const Table& table, std::size_t index, Claim& claim) {
        Table& t = const_cast<Table&>(table);
        std::uint64_t w = t.state.load(std::memory_order_acquire);
        if (stateOf(w) != kArmed)
            return false;
        if (!t.state.compare_exchange_strong(w, word(generationOf(w), index, kClaimed),
                                             std::memory_order_acq_rel))
            return false;
        claim = Claim{&table, index, generationOf(w)};
        return true;
    }

    // Publisher (and tests): forgets everything; not while the callback may run.
    void reset() {
        current_.store(-1);
        for (Table& table : tables_) {
            table.state.store(kEmpty);
            table.retiredAt = 0;
        }
    }

private:
    std::array<Table, kTables> tables_;
    std::atomic<int> current_{-1};
};

} // namespace strata
