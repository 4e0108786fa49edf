// A branch of a formula: branch(d, c, then_, else_) is
//
//     if (d.truth(c)) return then_(); return else_();
//
// in every domain but those with a branch of their own (the lane domain,
// which may evaluate both sides for all of a block's elements and choose
// per element). The sides are lambdas returning the domain's value.
#pragma once

namespace quarnel {

template <class D, class C, class Then, class Else>
auto branch(D& d, const C& c, const Then& then_, const Else& else_) {
    if constexpr (requires { d.branch(c, then_, else_); }) {
        return d.branch(c, then_, else_);
    } else {
        if (d.truth(c)) return then_();
        return else_();
    }
}

}  // namespace quarnel
