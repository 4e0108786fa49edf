#include "quarnel/registry.hpp"

#include "quarnel/values/dispatch.hpp"
#include "quarnel/solar/sonnenzeit.hpp"
#include "quarnel/budget/atmos_gegenstr.hpp"
#include "quarnel/budget/dir_str_m_bew.hpp"
#include "quarnel/budget/mittl_str_temp.hpp"
#include "quarnel/budget/oberfl_temp.hpp"

namespace quarnel::registry {

template <class F>
constexpr PublicFunction public_function() {
    return {F::info, body<F, F::info.params.size()>};
}

const PublicFunction public_functions[] = {
    public_function<solar::Sonnenzeit>(),
    public_function<budget::DirStrMBew>(),
    public_function<budget::AtmosGegenstr>(),
    public_function<budget::OberflTemp>(),
    public_function<budget::MittlStrTemp>(),
};
const int public_count = sizeof(public_functions) / sizeof(*public_functions);

const FunctionInfo* const all_functions[] = {
    &solar::sonnenzeit_info,
    &budget::dir_str_m_bew_info,
    &budget::atmos_gegenstr_info,
    &budget::oberfl_temp_info,
    &budget::mittl_str_temp_info,
    &solar::ers_info,
};
const int function_count = sizeof(all_functions) / sizeof(*all_functions);

}  // namespace quarnel::registry
