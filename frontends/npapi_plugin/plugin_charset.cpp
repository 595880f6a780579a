// The plug-in's CurrentCharset.

#include "plugin_charset.h"

namespace orva::npapi_plugin {

frontend::CurrentCharset& pluginCharset() noexcept {
    static frontend::CurrentCharset charset;
    return charset;
}

}  // namespace orva::npapi_plugin
