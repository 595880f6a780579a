#include "file_token_state.h"

#include <openssl/crypto.h>

namespace orva::api {

FileTokenKey::~FileTokenKey() {
    OPENSSL_cleanse(bytes.data(), bytes.size());
}

FileTokenState& fileTokenState() noexcept {
    static FileTokenState state;
    return state;
}

}  // namespace orva::api
