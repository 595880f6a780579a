#pragma once

// Process state that DllMain(PROCESS_DETACH) alone ends. No static destructor
// owns it: a process may run its exit-time destructors and then detach the
// library (a front end freeing it from its own exit-time cleanup), and the
// state must end once, whatever the order. A process that exits with the
// library still loaded leaves the state to the system.

#include <new>
#include <type_traits>

namespace orva::api {

template <typename State>
class DetachOwned {
  public:
    // Attach makes the state, so that no export has to allocate it; false
    // without memory.
    bool make() noexcept {
        if (state_ == nullptr) {
            state_ = new (std::nothrow) State();
        }
        return state_ != nullptr;
    }
    // Made at first use too, for code run outside a loaded library.
    State& get() {
        if (!make()) {
            throw std::bad_alloc();
        }
        return *state_;
    }
    void end() noexcept {
        delete state_;
        state_ = nullptr;
    }

  private:
    State* state_ = nullptr;
};

static_assert(std::is_trivially_destructible_v<DetachOwned<int>>,
              "nothing may end the state at exit");

}  // namespace orva::api
