// The four contexts of the items that follow POINT14 v3 in a layered chunk (RGB14, RGBNIR14 and
// BYTE14 v3), and the rule, as LASzip's v3 coders apply it, for which last value a point is
// predicted from.
//
// The context comes from POINT14: the scanner channel on the chunk's first point and when the
// channel changes, 0 for every other point. A point codes with the models of its context. It is
// predicted from the last value of the context used last, except that a context used for the first
// time in the chunk starts as a copy of that value and is predicted from (and updates) its own
// copy. So after a switch back to a context already used, the first point still predicts from, and
// updates, the value of the context it switched from. Writers have always done so; readers must.
#pragma once

#include <array>
#include <cstdint>

namespace korvane::laz {

// `State` has `bool active` and `last`, the value points are predicted from.
template <typename State>
class ChannelContexts {
  public:
    using Value = decltype(State::last);

    ChannelContexts() = default;
    explicit ChannelContexts(const State& prototype)
        : contexts_{prototype, prototype, prototype, prototype} {}

    std::array<State, 4>& all() { return contexts_; }

    // A new chunk whose first point has context `context` and value `value`.
    void begin(std::uint32_t context, const Value& value) {
        for (State& s : contexts_) s.active = false;
        State& s = contexts_[context];
        s.active = true;
        s.last = value;
        last_ = context;
    }

    // The state whose models code a point of context `context`.
    State& state(std::uint32_t context) { return contexts_[context]; }

    // The value that a point of context `context` is predicted from and updates; call once per
    // point, after which that context is the last used.
    Value& reference(std::uint32_t context) {
        Value* ref = &contexts_[last_].last;
        State& s = contexts_[context];
        if (!s.active) {
            s.active = true;
            s.last = *ref;
            ref = &s.last;
        }
        last_ = context;
        return *ref;
    }

    // The last context's value, for a layer that holds no changes.
    const Value& last_value() const { return contexts_[last_].last; }

  private:
    std::array<State, 4> contexts_{};
    std::uint32_t last_ = 0;
};

}  // namespace korvane::laz
