#include "Strahlwerk/registry.hpp"

#include "Strahlwerk/function_type.hpp"
#include "formulas/budget/atmos_gegenstr.hpp"
#include "formulas/budget/dir_str_m_bew.hpp"
#include "formulas/budget/mittl_str_temp.hpp"
#include "formulas/budget/oberfl_temp.hpp"
#include "formulas/clearsky/linke_truebung.hpp"
#include "formulas/clearsky/max_direkte_strahlung.hpp"
#include "formulas/clearsky/max_globalstrahlung.hpp"
#include "formulas/clearsky/rel_opt_luftmasse.hpp"
#include "formulas/solar/azimutwinkel.hpp"
#include "formulas/solar/sonnenzeit.hpp"
#include "formulas/solar/zenitwinkel.hpp"
#include "values/dispatch.hpp"

namespace quarnel::registry {

template <class F, std::size_t N>
PyObject* entry(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) noexcept {
    if ((!kwnames || PyTuple_GET_SIZE(kwnames) == 0) && PyVectorcall_NARGS(nargsf) == Py_ssize_t(N)) [[likely]]
        return body<F, N>(args);
    return call_with_binding(self, args, nargsf, kwnames);
}

template <class F>
constexpr PublicFunction public_function() {
    constexpr std::size_t n = F::info.params.size();
    return {F::info, body<F, n>, entry<F, n>};
}

const PublicFunction public_functions[] = {
    public_function<solar::Sonnenzeit>(),
    public_function<solar::Zenitwinkel>(),
    public_function<solar::Azimutwinkel>(),
    public_function<clearsky::LinkeTruebung>(),
    public_function<clearsky::RelOptLuftmasse>(),
    public_function<clearsky::MaxDirekteStrahlung>(),
    public_function<clearsky::MaxGlobalstrahlung>(),
    public_function<budget::DirStrMBew>(),
    public_function<budget::AtmosGegenstr>(),
    public_function<budget::OberflTemp>(),
    public_function<budget::MittlStrTemp>(),
};
const int public_count = sizeof(public_functions) / sizeof(*public_functions);

const FunctionInfo* const inner_functions[] = {
    &solar::ers_info,
    &solar::winkel_info,
    &clearsky::mds_extraterr_info,
    &clearsky::mds_opt_dicke_info,
    &clearsky::mds_druckkorrektur_info,
    &clearsky::mgs_extraterr_info,
    &clearsky::mgs_druckkorrektur_info,
};
const int inner_count = sizeof(inner_functions) / sizeof(*inner_functions);

}  // namespace quarnel::registry
