// The COM owners: each lets go of exactly what it holds, once, and hands
// over without letting go.

#include <gtest/gtest.h>

#include <array>
#include <utility>

#include "orva/com_ptr.h"
#include "orva/com_registration.h"
#include "orva/unique_bstr.h"
#include "orva/unique_variant.h"

namespace {

using orva::ComPtr;
using orva::UniqueBstr;
using orva::UniqueVariant;
using orva::platform::liveBstrCount;

// Counts its references; never deletes itself, so a test can read the count.
struct Counted : IUnknown {
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    ULONG refs = 1;
};

// Each case ends with what the two objects' counts should be (both start at 1).
TEST(ComPtr, ReleasesWhatItHoldsOnceAndHandsOverWithoutReleasing) {
    using Ptr = ComPtr<IUnknown>;
    const struct {
        const char* name;
        void (*steps)(Counted&, Counted&);
        ULONG first, second;
    } cases[] = {
        {"adopting takes no reference", [](Counted& a, Counted&) { Ptr p(&a); }, 0, 1},
        {"share takes its own", [](Counted& a, Counted&) { auto p = Ptr::share(&a); }, 1, 1},
        {"put releases the old", [](Counted& a, Counted& b) { *Ptr(&a).put() = &b; }, 0, 0},
        {"detach hands over", [](Counted& a, Counted&) { Ptr(&a).detach(); }, 1, 1},
        {"move empties the source",
         [](Counted& a, Counted&) {
             Ptr p(&a);
             const Ptr q(std::move(p));
             EXPECT_FALSE(p);  // NOLINT(bugprone-use-after-move): the contract under test
         },
         0, 1},
        {"move-assigning releases the old",
         [](Counted& a, Counted& b) {
             Ptr p(&b);
             p = Ptr(&a);
         },
         0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Counted first;
        Counted second;
        c.steps(first, second);
        EXPECT_EQ(first.refs, c.first);
        EXPECT_EQ(second.refs, c.second);
    }
}

TEST(UniqueBstr, FreesWhatItHoldsOnceAndHandsOverWithoutFreeing) {
    const std::size_t live = liveBstrCount();
    BSTR handed = nullptr;
    {
        UniqueBstr text(SysAllocString(u"a"));
        *text.put() = SysAllocString(u"b");  // "a" freed
        EXPECT_EQ(liveBstrCount(), live + 1);
        UniqueBstr moved(std::move(text));
        EXPECT_FALSE(text);  // NOLINT(bugprone-use-after-move): the contract under test
        handed = moved.release();
        EXPECT_FALSE(moved);
        UniqueBstr kept(SysAllocString(u"c"));  // freed at the end of the block
    }
    EXPECT_EQ(liveBstrCount(), live + 1);
    EXPECT_EQ(std::u16string(handed), u"b");
    SysFreeString(handed);
}

TEST(UniqueVariant, ClearsWhatItHoldsAndHandsOverWithoutClearing) {
    const std::size_t live = liveBstrCount();
    Counted object;
    VARIANT handed{};
    {
        UniqueVariant text;
        EXPECT_EQ(text->vt, VT_EMPTY);
        text->vt = VT_BSTR;
        text->bstrVal = SysAllocString(u"a");
        UniqueVariant moved(std::move(text));
        EXPECT_EQ(text->vt, VT_EMPTY);  // NOLINT(bugprone-use-after-move): the contract under test
        handed = moved.release();
        EXPECT_EQ(moved->vt, VT_EMPTY);

        VARIANT unknown{};
        unknown.vt = VT_UNKNOWN;
        unknown.punkVal = &object;
        UniqueVariant interface(unknown);
        orva::UniqueVariants<std::array<VARIANT, 2>> block;
        block[1].vt = VT_BSTR;
        block[1].bstrVal = SysAllocString(u"b");
    }
    EXPECT_EQ(object.refs, 0u);
    EXPECT_EQ(liveBstrCount(), live + 1);
    EXPECT_EQ(handed.vt, VT_BSTR);
    VariantClear(&handed);
    EXPECT_EQ(liveBstrCount(), live);
}

}  // namespace
