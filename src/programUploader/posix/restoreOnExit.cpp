#include "restoreOnExit.h"

#include "interrupt.h"

#include <atomic>

namespace {

RestoreOnExit* volatile first = nullptr;

} // namespace

void RestoreOnExit::join()
{
    if (joined_)
        return;
    EndingSignalsHeld held;
    previous_ = nullptr;
    next_ = first;
    if (first)
        first->previous_ = this;
    // The member is whole before the handler can reach it.
    std::atomic_signal_fence(std::memory_order_seq_cst);
    first = this;
    joined_ = true;
}

void RestoreOnExit::leave()
{
    if (!joined_)
        return;
    EndingSignalsHeld held;
    if (previous_)
        previous_->next_ = next_;
    else
        first = next_;
    if (next_)
        next_->previous_ = previous_;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    joined_ = false;
}

void restoreAllNow()
{
    for (RestoreOnExit* member = first; member; member = member->next_)
        member->restore_(*member);
}
