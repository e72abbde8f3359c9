#pragma once

#include <cstdint>

// Whether the caller wants a long call to stop (the user pressed Ctrl-C): a
// function and the state it works on, like RandomSource. None by default,
// and then a call never stops early.
struct InterruptCheck {
    using Function = bool (*)(void* context);

    Function interrupted = nullptr;
    void* context = nullptr;

    bool operator()() const { return interrupted != nullptr && interrupted(context); }
};

// Asks a check once per `interval` units of work (tests of a candidate
// against a sphere, pairs), so that asking costs nothing measurable and a
// stop comes within milliseconds.
class InterruptPoll {
public:
    InterruptPoll(const InterruptCheck& check, std::int64_t interval)
        : check_(check), interval_(interval), left_(interval) {}

    // Counts `work` units done; true once the check has said stop.
    bool stop(std::int64_t work) {
        if (stopped_) return true;
        if ((left_ -= work) > 0) return false;
        left_ = interval_;
        stopped_ = check_();
        return stopped_;
    }
    bool stopped() const { return stopped_; }

private:
    InterruptCheck check_;
    std::int64_t interval_, left_;
    bool stopped_ = false;
};
