#define QUARNEL_IMPORTS_NUMPY_API
#include "common/numpy_api.hpp"

namespace quarnel::numpy_api {

bool import() noexcept {
    // import_array() returns from the calling function on failure, hence the lambda.
    auto imp = []() -> int {
        import_array1(-1);
        import_umath1(-1);
        return 0;
    };
    return imp() == 0;
}

}  // namespace quarnel::numpy_api
