#pragma once

#include "hostmail/delivery/DeliveryState.h"

#include <optional>

namespace hostmail {

struct DeliveryReport;

// What became of one Outbox message in a delivery run. Everything that
// follows from it (what the delivery state keeps, which count of the run's
// summary it adds to, whether it is logged and told in the notice, whether
// the agent exits 1) is stated once, in the table of Outcome.cpp. Whether it
// is tried again follows from the state: a failed stage at its retry time, a
// message without one when it is due, a held one only at the user's word.
enum class Outcome {
    Delivered,       // handed over and filed in Sent
    DeliveredInPart, // handed over, but some recipients were refused or left out
    NotFiled,        // handed over, and cannot be filed in Sent: stays aside, never handed over again
    StillNotFiled,   // not filed in an earlier run, and still not: passed over without a word
    Waiting,         // not due yet, or the account's rate is spent for this run
    WaitingToRetry,  // failed before; its next attempt is not due yet
    Failed,          // this attempt failed: tried again after a growing wait
    Stopped,         // the account stopped the run (told once): tried again at the next run
    Held,            // may have gone out, or cannot go as it is: waits for the user
    StillHeld,       // held in an earlier run: passed over without a word
};

struct OutcomeRule {
    // What the delivery state holds of the message afterwards.
    enum class Mark { Forget, Untouched, Set };
    Outcome outcome;
    const char *name;           // as the tests and goldens name it
    Mark mark;                  //
    DeliveryState::Stage stage; // with Set
    int DeliveryReport::*count; // the summary's count it adds to
    int DeliveryReport::*also;  // and a second one, or null
    const char *logPrefix;      // logged with this before the reason; null: not logged
    const char *tellPrefix;     // in the run's errors and the desktop notice with this; null: not told
    bool trouble;               // the agent exits 1 and points to the log
};

const OutcomeRule &ruleOf(Outcome outcome);
// Every row, in the order above.
const OutcomeRule *outcomeRulesBegin();
const OutcomeRule *outcomeRulesEnd();

} // namespace hostmail
