#pragma once

// The browser side of the plug-in interface: the function table a plug-in is
// given, over tracked memory, interned identifiers and reference-counted
// objects. One browser at a time: the table's functions carry no context.

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "npapi/npapi.h"
#include "tracking_allocator.h"

namespace orva::npapi_host {

class StandInBrowser {
  public:
    // Becomes the browser the table's functions serve.
    StandInBrowser();
    ~StandInBrowser();
    StandInBrowser(const StandInBrowser&) = delete;
    StandInBrowser& operator=(const StandInBrowser&) = delete;

    // The full table, size 328 and version 0.22; slots a plug-in has no
    // business calling abort the process.
    NPNetscapeFuncs functions() const noexcept;

    TrackingAllocator& allocator() noexcept { return allocator_; }
    // The identifier of a name: equal names, equal identifiers.
    NPIdentifier identifier(std::string_view name);
    std::size_t identifierRequests() const noexcept { return identifierRequests_; }

    // Makes the next object creations fail, or succeed again.
    void failObjectCreation(bool fail) noexcept { failObjectCreation_ = fail; }
    std::size_t liveObjects() const noexcept { return objects_.size(); }
    // Releases of objects that are not alive.
    std::size_t objectFaults() const noexcept { return objectFaults_; }
    uint32_t referenceCount(const NPObject* object) const noexcept;

    // Frees what a variant holds and makes it void.
    void releaseVariant(NPVariant& variant);

    // Every block freed and every object gone, without a fault.
    bool balanced() const noexcept {
        return allocator_.balanced() && objects_.empty() && objectFaults_ == 0;
    }

    // The table's functions reach these.
    NPObject* createObject(NPP npp, NPClass* objectClass);
    NPObject* retainObject(NPObject* object);
    void releaseObject(NPObject* object);

  private:
    TrackingAllocator allocator_;
    std::map<std::string, std::unique_ptr<std::string>, std::less<>> identifiers_;
    std::size_t identifierRequests_ = 0;
    std::map<NPObject*, bool> objects_;  // live objects; true when made by malloc
    std::size_t objectFaults_ = 0;
    bool failObjectCreation_ = false;
};

}  // namespace orva::npapi_host
