#include "quarnel/registry.hpp"

#include "quarnel/values/dispatch.hpp"
#include "quarnel/solar/azimutwinkel.hpp"
#include "quarnel/solar/sonnenzeit.hpp"
#include "quarnel/solar/zenitwinkel.hpp"

namespace quarnel::registry {

template <class F>
constexpr PublicFunction public_function() {
    return {F::info, body<F, F::info.params.size()>};
}

const PublicFunction public_functions[] = {
    public_function<solar::Sonnenzeit>(),
    public_function<solar::Zenitwinkel>(),
    public_function<solar::Azimutwinkel>(),
};
const int public_count = sizeof(public_functions) / sizeof(*public_functions);

const FunctionInfo* const all_functions[] = {
    &solar::sonnenzeit_info,
    &solar::zenitwinkel_info,
    &solar::azimutwinkel_info,
    &solar::ers_info,
    &solar::winkel_info,
};
const int function_count = sizeof(all_functions) / sizeof(*all_functions);

}  // namespace quarnel::registry
