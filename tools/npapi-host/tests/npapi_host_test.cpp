// The stand-in browser's own parts: the tracking allocator, objects and
// variants, and arguments typed as a page's script passes them.

#include <gtest/gtest.h>

#include <cmath>

#include "script_value.h"
#include "stand_in_browser.h"

namespace orva::npapi_host {
namespace {

TEST(TrackingAllocator, CatchesLeaksDoubleAndForeignFreesAndFailsOnRequest) {
    TrackingAllocator allocator;
    void* first = allocator.allocate(10);
    void* second = allocator.allocate(0);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(allocator.liveBytes(), 10u);
    allocator.release(first);
    EXPECT_FALSE(allocator.balanced());  // second is still live
    allocator.release(second);
    EXPECT_TRUE(allocator.balanced());
    allocator.release(nullptr);
    allocator.release(first);
    EXPECT_EQ(allocator.doubleFrees(), 1u);
    int stack = 0;
    allocator.release(&stack);
    EXPECT_EQ(allocator.foreignFrees(), 1u);
    EXPECT_FALSE(allocator.balanced());

    TrackingAllocator failing;
    failing.failAllocation(2);
    void* kept = failing.allocate(1);
    EXPECT_NE(kept, nullptr);
    EXPECT_EQ(failing.allocate(1), nullptr);
    void* again = failing.allocate(1);
    EXPECT_NE(again, nullptr);
    failing.release(kept);
    failing.release(again);
    EXPECT_TRUE(failing.balanced());
}

TEST(StandInBrowser, ObjectsLiveByTheirReferencesAndVariantsFreeWhatTheyHold) {
    StandInBrowser browser;
    EXPECT_THROW(StandInBrowser second, std::logic_error);
    NPClass plain{};
    NPObject* object = browser.createObject(nullptr, &plain);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(browser.retainObject(object)->referenceCount, 2u);
    browser.releaseObject(object);
    NPVariant held{};
    held.type = NPVariantType_Object;
    held.value.objectValue = object;
    browser.releaseVariant(held);
    EXPECT_EQ(held.type, NPVariantType_Void);
    EXPECT_EQ(browser.liveObjects(), 0u);
    browser.releaseObject(object);
    EXPECT_EQ(browser.objectFaults(), 1u);
    EXPECT_FALSE(browser.balanced());
}

TEST(ScriptValue, ArgumentsAreTypedAsAScriptPassesThem) {
    const std::pair<const char*, ScriptValue> rows[] = {
        {"true", true},
        {"false", false},
        {"null", nullptr},
        {"undefined", std::monostate{}},
        {"42", int32_t{42}},
        {"-2147483648", int32_t{INT32_MIN}},
        {"2147483648", 2147483648.0},
        {"5.9", 5.9},
        {"Infinity", HUGE_VAL},
        {"\"100\"", std::string("100")},
        {"\"\"", std::string()},
        {"SM3", std::string("SM3")},
        {"12abc", std::string("12abc")},
        {"\"", std::string("\"")},
    };
    for (const auto& [argument, value] : rows) {
        EXPECT_EQ(parseArgument(argument), value) << argument;
    }
    EXPECT_TRUE(std::isnan(std::get<double>(parseArgument("NaN"))));
    EXPECT_EQ(printable(int32_t{-106}), "-106");
}

}  // namespace
}  // namespace orva::npapi_host
