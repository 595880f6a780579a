#include "device.h"

namespace orva::dravik {

HandleTable<Context>& contexts() {
    static HandleTable<Context> table(0x5C000000);
    return table;
}

HandleTable<Device>& devices() {
    static HandleTable<Device> table(0x5D000000);
    return table;
}

}  // namespace orva::dravik
