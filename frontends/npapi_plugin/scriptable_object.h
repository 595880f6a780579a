#pragma once

// The scriptable objects a page sees: a base with the browser's operations as
// virtuals, the object that carries the 38 methods, and a constructable one.

#include <cstdint>

#include "npapi/npapi.h"

namespace orva::npapi_plugin {

class ScriptablePluginObjectBase : public NPObject {
  public:
    explicit ScriptablePluginObjectBase(NPP npp) noexcept : NPObject{}, npp_(npp) {}
    virtual ~ScriptablePluginObjectBase() = default;
    ScriptablePluginObjectBase(const ScriptablePluginObjectBase&) = delete;
    ScriptablePluginObjectBase& operator=(const ScriptablePluginObjectBase&) = delete;

    virtual void Invalidate() {}
    virtual bool HasMethod(NPIdentifier) { return false; }
    virtual bool Invoke(NPIdentifier, const NPVariant*, uint32_t, NPVariant*) { return false; }
    virtual bool InvokeDefault(const NPVariant*, uint32_t, NPVariant*) { return false; }
    virtual bool HasProperty(NPIdentifier) { return false; }
    virtual bool GetProperty(NPIdentifier, NPVariant*) { return false; }
    virtual bool SetProperty(NPIdentifier, const NPVariant*) { return false; }
    virtual bool RemoveProperty(NPIdentifier) { return false; }
    virtual bool Enumerate(NPIdentifier**, uint32_t*) { return false; }
    virtual bool Construct(const NPVariant*, uint32_t, NPVariant*) { return false; }

    NPP npp() const noexcept { return npp_; }

  private:
    NPP npp_;
};

// A text kept between calls, in browser memory.
struct HeldResult {
    char* text = nullptr;
    int32_t length = 0;
};

class ScriptablePluginObject : public ScriptablePluginObjectBase {
  public:
    explicit ScriptablePluginObject(NPP npp) noexcept : ScriptablePluginObjectBase(npp) {}
    ~ScriptablePluginObject() override;

    bool HasMethod(NPIdentifier name) override;
    bool Invoke(NPIdentifier name, const NPVariant* args, uint32_t argCount,
                NPVariant* result) override;
    bool InvokeDefault(const NPVariant* args, uint32_t argCount, NPVariant* result) override;
    virtual void ReleaseHeldResult(HeldResult& held);

    HeldResult& held(int slot) noexcept { return held_[slot]; }
    int32_t& heldInteger() noexcept { return heldInteger_; }

  private:
    HeldResult held_[3];
    int32_t heldInteger_ = 0;
};

class ConstructablePluginObject : public ScriptablePluginObjectBase {
  public:
    using ScriptablePluginObjectBase::ScriptablePluginObjectBase;
    bool Construct(const NPVariant* args, uint32_t argCount, NPVariant* result) override;
};

extern NPClass ScriptablePluginObjectClass;
extern NPClass ConstructablePluginObjectClass;

}  // namespace orva::npapi_plugin
