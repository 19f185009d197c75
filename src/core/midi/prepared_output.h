#pragma once

#include "midi/ardour_cc_mutes.h"
#include "midi/mackie_output.h"
#include "midi/output_path.h"
#include "midi/reflex_snapshot.h"
#include "platform/main_loop.h"
#include "platform/prepared_answers.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace strata {

class TriggerInput;

// The MIDI queue's side of answers prepared ahead: for every move of the input side's plan
// (ReflexPlan), the exact bytes the queue would send for it from its shadows right now, handed
// to a MIDI system that can write them in the cycle that reads the press (a JACK server).
//
// Prepared only when the answer is that plain: Mackie Control mute presses within the banks as
// they stand (no bank move, no settle, no newly connected DAW whose report is awaited, no LED
// report held back that would change the shadow first), or CC mutes in the form that carries the
// state (Logic), all to our own surface ports. Everything else (a bank move, Ardour's CC toggles
// that wait for echoes, a device as the port, a system that hands output over at once) is left to
// the queued path, as before. An answer that cannot be prepared still takes its press, so that no
// other answer fires for it.
//
// Ownership: the queue alone writes output, so before each job that may write (and, as a
// safety net, before any output) it settles the answers it handed over: withdrawn, or, if a
// press claimed one first, taken into the shadows exactly as if the queue had sent those bytes.
// After each job it prepares again. Toggles are thus never computed twice nor on a stale shadow.
//
// Threads: the MIDI queue, except the retry timer (main thread).
class PreparedOutput {
public:
    PreparedOutput(OutputPath& out, MackieOutput& mackie, ArdourCCMutes& cc,
                   std::optional<SectionRequest>& lastRequest, TriggerInput& input);
    ~PreparedOutput();

    // The input side's latest plan.
    void setPlan(std::shared_ptr<const ReflexPlan> plan) { plan_ = std::move(plan); }
    // Before a job that may write output: the answers handed over are withdrawn, or a claimed
    // one is taken in.
    void settle() { resolve(true, true); }
    // Before any output (a safety net for jobs that settle nothing first): as settle, but the
    // job's own state request stays the one a newly connected DAW is brought to.
    void settleForOutput() { resolve(true, false); }
    // After every job: prepares what the state now asks for.
    void prepare();

    // Inspection (tests): the generation handed over and not yet settled (0: none).
    std::uint64_t handedOver() const { return generation_; }

private:
    struct Prepared {
        std::shared_ptr<const ReflexPlan> plan;
        PreparedAnswerSet set;
        // The Mackie slots each answer presses.
        std::vector<std::vector<int>> presses;
    };

    void build(Prepared& into);
    // Fills the bytes of one answer; false when it cannot be prepared.
    bool fill(PreparedAnswer& answer, const SectionRequest& r, std::vector<int>& presses) const;
    SectionRequest requestFor(const ReflexPlan& plan, std::size_t index) const;
    // The request for a snapshot's settings with no mutes, kept while the snapshot is the same
    // (its layers are copied once, not once per answer and job).
    SectionRequest& baseFor(const std::shared_ptr<const ReflexSnapshot>& snapshot);
    // Returns whether a claimed answer was taken in.
    bool resolve(bool withdraw, bool takeRequest = true);
    void scheduleRetry();

    OutputPath& out_;
    MackieOutput& mackie_;
    ArdourCCMutes& cc_;
    std::optional<SectionRequest>& lastRequest_;
    TriggerInput& input_;

    std::shared_ptr<const ReflexPlan> plan_;
    std::uint64_t nextGeneration_ = 0;
    std::uint64_t generation_ = 0; // handed over, not yet settled
    std::unique_ptr<Prepared> handed_;
    std::unique_ptr<Prepared> scratch_;
    std::shared_ptr<const ReflexSnapshot> baseSnapshot_;
    SectionRequest base_;
    bool retryPending_ = false;
};

} // namespace strata
