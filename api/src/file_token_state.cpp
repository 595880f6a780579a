#include "file_token_state.h"

#include "detach_owned.h"
#include "orva/cleanse.h"

namespace orva::api {

namespace {

constinit DetachOwned<FileTokenState> state;

}  // namespace

FileTokenKey::~FileTokenKey() {
    cleanse(bytes.data(), bytes.size());
}

FileTokenState& fileTokenState() noexcept {
    return state.get();
}

bool makeFileTokenState() noexcept {
    return state.make();
}

void endFileTokenState() noexcept {
    state.end();
}

}  // namespace orva::api
