#pragma once

// Owned VARIANTs: empty when made, cleared (their text freed, their
// interface released) when the owner goes.

#include <cstddef>
#include <utility>

#include "win32/com.h"

namespace orva {

// One VARIANT.
class UniqueVariant {
  public:
    UniqueVariant() noexcept { VariantInit(&value_); }
    // Takes over value and what it holds.
    explicit UniqueVariant(const VARIANT& value) noexcept : value_(value) {}
    UniqueVariant(UniqueVariant&& other) noexcept : value_(other.release()) {}
    UniqueVariant& operator=(UniqueVariant&& other) noexcept {
        if (this != &other) {
            VariantClear(&value_);
            value_ = other.release();
        }
        return *this;
    }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    ~UniqueVariant() { VariantClear(&value_); }

    VARIANT* get() noexcept { return &value_; }
    const VARIANT* get() const noexcept { return &value_; }
    VARIANT* operator->() noexcept { return &value_; }
    const VARIANT* operator->() const noexcept { return &value_; }

    // The value, handed to the caller, who clears it; this one is left empty.
    VARIANT release() noexcept {
        const VARIANT value = value_;
        VariantInit(&value_);
        return value;
    }

  private:
    VARIANT value_;
};

// VARIANTs in one block, as DISPPARAMS and a method's arguments take them,
// each cleared when the block goes. Storage is a container of VARIANT
// (std::array or std::vector), its values made empty (zero) at construction.
template <class Storage>
class UniqueVariants {
  public:
    template <class... Args>
    explicit UniqueVariants(Args&&... args) : values_(std::forward<Args>(args)...) {}
    UniqueVariants(const UniqueVariants&) = delete;
    UniqueVariants& operator=(const UniqueVariants&) = delete;
    ~UniqueVariants() {
        for (VARIANT& value : values_) {
            VariantClear(&value);
        }
    }

    VARIANT* data() noexcept { return values_.data(); }
    VARIANT& operator[](std::size_t i) noexcept { return values_[i]; }

  private:
    Storage values_;
};

}  // namespace orva
