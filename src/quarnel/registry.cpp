#include "quarnel/registry.hpp"

#include "quarnel/values/dispatch.hpp"
#include "quarnel/clearsky/linke_truebung.hpp"
#include "quarnel/clearsky/max_direkte_strahlung.hpp"
#include "quarnel/clearsky/max_globalstrahlung.hpp"
#include "quarnel/clearsky/rel_opt_luftmasse.hpp"
#include "quarnel/solar/sonnenzeit.hpp"

namespace quarnel::registry {

template <class F>
constexpr PublicFunction public_function() {
    return {F::info, body<F, F::info.params.size()>};
}

const PublicFunction public_functions[] = {
    public_function<solar::Sonnenzeit>(),
    public_function<clearsky::LinkeTruebung>(),
    public_function<clearsky::RelOptLuftmasse>(),
    public_function<clearsky::MaxDirekteStrahlung>(),
    public_function<clearsky::MaxGlobalstrahlung>(),
};
const int public_count = sizeof(public_functions) / sizeof(*public_functions);

const FunctionInfo* const all_functions[] = {
    &solar::sonnenzeit_info,
    &clearsky::linke_truebung_info,
    &clearsky::rel_opt_luftmasse_info,
    &clearsky::max_direkte_strahlung_info,
    &clearsky::max_globalstrahlung_info,
    &solar::ers_info,
    &clearsky::mds_extraterr_info,
    &clearsky::mds_opt_dicke_info,
    &clearsky::mds_druckkorrektur_info,
    &clearsky::mgs_extraterr_info,
    &clearsky::mgs_druckkorrektur_info,
};
const int function_count = sizeof(all_functions) / sizeof(*all_functions);

}  // namespace quarnel::registry
