#include "hostmail/delivery/Outcome.h"

#include "hostmail/delivery/Delivery.h"

#include <iterator>

namespace hostmail {

namespace {

using Stage = DeliveryState::Stage;
using R = DeliveryReport;
using M = OutcomeRule::Mark;

// clang-format off
constexpr OutcomeRule kRules[] = {
    // outcome                 name                 state kept                        count         also           log prefix    told prefix trouble
    {Outcome::Delivered,       "delivered",         M::Forget,    Stage::Failed,     &R::delivered, nullptr,       nullptr,      nullptr,    false},
    {Outcome::DeliveredInPart, "delivered-in-part", M::Forget,    Stage::Failed,     &R::delivered, nullptr,       "delivered; ", "",        false},
    {Outcome::NotFiled,        "not-filed",         M::Untouched, Stage::HandedOver, &R::keptAside, nullptr,       "",           "",         true},
    {Outcome::StillNotFiled,   "still-not-filed",   M::Untouched, Stage::HandedOver, &R::keptAside, nullptr,       nullptr,      nullptr,    true},
    {Outcome::Waiting,         "waiting",           M::Untouched, Stage::Failed,     &R::waiting,   nullptr,       nullptr,      nullptr,    false},
    {Outcome::WaitingToRetry,  "waiting-to-retry",  M::Untouched, Stage::Failed,     &R::waiting,   &R::retrying,  nullptr,      nullptr,    true},
    {Outcome::Failed,          "failed",            M::Set,       Stage::Failed,     &R::failed,    nullptr,       "",           "",         true},
    {Outcome::Stopped,         "stopped",           M::Set,       Stage::Failed,     &R::failed,    nullptr,       nullptr,      nullptr,    true},
    {Outcome::Held,            "held",              M::Set,       Stage::Held,       &R::held,      nullptr,       "held: ",     "held: ",   true},
    {Outcome::StillHeld,       "still-held",        M::Untouched, Stage::Held,       &R::held,      nullptr,       nullptr,      nullptr,    true},
};
// clang-format on

} // namespace

const OutcomeRule &ruleOf(Outcome outcome)
{
    for (const OutcomeRule &rule : kRules) {
        if (rule.outcome == outcome)
            return rule;
    }
    return kRules[0];
}

const OutcomeRule *outcomeRulesBegin()
{
    return std::begin(kRules);
}

const OutcomeRule *outcomeRulesEnd()
{
    return std::end(kRules);
}

} // namespace hostmail
