#include "com_module.h"

namespace orva::com {

ComModule& comModule() noexcept {
    static ComModule module;
    return module;
}

}  // namespace orva::com
