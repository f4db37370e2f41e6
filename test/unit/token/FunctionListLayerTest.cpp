// Which vendor entries a module gets, and the layer the operators call through, against the
// fake module linked into this process.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FakeModule.h"
#include "support/CustomException.h"
#include "token/FunctionListLayer.h"
#include "token/TokenOperator.h"
#include "token/VendorDetection.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;
using Words = std::vector<const void*>;

CK_FUNCTION_LIST* FakeList()
{
    CK_FUNCTION_LIST* list = nullptr;
    EXPECT_EQ(C_GetFunctionList(&list), CKR_OK);
    return list;
}

const CK_KTL_FUNCTION_LIST& FakeExtendedList() { return *reinterpret_cast<CK_KTL_FUNCTION_LIST*>(FakeList()); }

Words WordsOf(const CK_KTL_FUNCTION_LIST& list)
{
    return {reinterpret_cast<const void*>(list.C_KTL_LoadCert), reinterpret_cast<const void*>(list.C_KTL_LoadX509Cert),
            reinterpret_cast<const void*>(list.C_KTL_CreateCSR), reinterpret_cast<const void*>(list.C_KTL_SignWithCert),
            reinterpret_cast<const void*>(list.C_KTL_VerifySignature)};
}

Words ModuleWords()
{
    fake::Reset();
    return WordsOf(FakeExtendedList());
}

Words WithWord(Words words, size_t index, const void* word)
{
    words[index] = word;
    return words;
}

// Code of the C library: loaded, executable, but not the module's.
Words LibraryWords()
{
    return {reinterpret_cast<const void*>(&std::abort), reinterpret_cast<const void*>(&std::exit),
            reinterpret_cast<const void*>(&std::puts), reinterpret_cast<const void*>(&std::getenv),
            reinterpret_cast<const void*>(&std::free)};
}

class VendorDetection : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }
    void TearDown() override { fake::Reset(); }
};

struct WordsCase {
    std::string name;
    std::function<Words()> words;
    bool detected;
};

void PrintTo(const WordsCase& c, std::ostream* out) { *out << c.name; }

class DetectedWords : public VendorDetection, public ::testing::WithParamInterface<WordsCase> {};

TEST_P(DetectedWords, TakesOnlyFiveCodeWordsOfTheModuleItself)
{
    fake::SetVendorWords(GetParam().words());
    const auto found = CVendorDetection::Detect(FakeList());
    ASSERT_EQ(found.has_value(), GetParam().detected);
    if (found) {
        EXPECT_EQ(WordsOf(*found), ModuleWords());
        EXPECT_EQ(found->standard.C_Login, FakeList()->C_Login);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Words, DetectedWords,
    ::testing::Values(WordsCase{"ModuleEntries", ModuleWords, true},
                      WordsCase{"AllNull", [] { return Words(5, nullptr); }, false},
                      WordsCase{"FirstNull", [] { return WithWord(ModuleWords(), 0, nullptr); }, false},
                      WordsCase{"LastNull", [] { return WithWord(ModuleWords(), 4, nullptr); }, false},
                      WordsCase{"OneInAnotherLibrary",
                                [] { return WithWord(ModuleWords(), 2, reinterpret_cast<const void*>(&std::abort)); },
                                false},
                      WordsCase{"AllInAnotherLibrary", LibraryWords, false},
                      WordsCase{"DataOfTheModule",
                                [] { return WithWord(ModuleWords(), 1, &FakeExtendedList()); }, false},
                      WordsCase{"UnmappedAddress",
                                [] { return WithWord(ModuleWords(), 3, reinterpret_cast<const void*>(0x10)); },
                                false}),
    [](const ::testing::TestParamInfo<WordsCase>& info) { return info.param.name; });

TEST_F(VendorDetection, GarbageWordsAreNoEntries)
{
    fake::SetVendorWords(fake::VendorWords::Garbage);
    EXPECT_FALSE(CVendorDetection::Detect(FakeList()).has_value());
}

TEST_F(VendorDetection, ListOutsideLoadedObjectsIsNeverReadPastItsEnd)
{
    // A list on the heap, as a proxy may hand out: even the module's own words behind it
    // are not taken, since nothing says the memory there is the module's.
    auto copy = std::make_unique<CK_KTL_FUNCTION_LIST>(FakeExtendedList());
    EXPECT_FALSE(CVendorDetection::Detect(&copy->standard).has_value());
    EXPECT_FALSE(CVendorDetection::Detect(nullptr).has_value());
}

TEST_F(VendorDetection, StandardEntriesOutsideLoadedCodeGiveNoEntries)
{
    static CK_KTL_FUNCTION_LIST list = FakeExtendedList();
    list.standard.C_Initialize = nullptr;
    EXPECT_FALSE(CVendorDetection::Detect(&list.standard).has_value());
}

// ---- the layer ----

class Layer : public VendorDetection {};

TEST_F(Layer, ModuleEntriesAreUsedUnlessStandardCallsAreForced)
{
    const Words module = ModuleWords();
    unsigned char bytes[4] = {0};
    {
        CFunctionListLayer layer(FakeList(), false, false);
        EXPECT_FALSE(layer.UsesStandardCalls());
        EXPECT_TRUE(layer.ModuleHasVendorEntries());
        EXPECT_EQ(CFunctionListLayer::Current(), &layer);
        // The operators get a copy, never the module's own list; its entries reach the module.
        EXPECT_NE(layer.Top(), FakeList());
        const auto& top = *reinterpret_cast<CK_KTL_FUNCTION_LIST*>(layer.Top());
        fake::ClearCalls();
        top.standard.C_Logout(1);
        top.C_KTL_VerifySignature(bytes, sizeof(bytes), bytes, sizeof(bytes));
        EXPECT_THAT(fake::CallNames(), ElementsAre("C_Logout", "C_KTL_VerifySignature"));
    }
    EXPECT_EQ(CFunctionListLayer::Current(), nullptr);

    CFunctionListLayer forced(FakeList(), true, false);
    EXPECT_TRUE(forced.UsesStandardCalls());
    EXPECT_TRUE(forced.ModuleHasVendorEntries());
    for (const void* word : WordsOf(forced.Below())) {
        EXPECT_THAT(module, Not(Contains(word)));
        EXPECT_NE(word, nullptr);
    }
    fake::ClearCalls();
    forced.Below().standard.C_Logout(1);
    forced.Below().C_KTL_VerifySignature(bytes, sizeof(bytes), bytes, sizeof(bytes));
    EXPECT_THAT(fake::CallNames(), ElementsAre("C_Logout"));
}

TEST_F(Layer, ModuleWithoutEntriesGetsStandardCallsThatNeverReachItsWords)
{
    fake::SetVendorWords(fake::VendorWords::Garbage);
    CFunctionListLayer layer(FakeList(), false, false);
    EXPECT_TRUE(layer.UsesStandardCalls());
    EXPECT_FALSE(layer.ModuleHasVendorEntries());
    for (const void* word : WordsOf(layer.Below())) {
        EXPECT_THAT(WordsOf(FakeExtendedList()), Not(Contains(word)));
    }
    unsigned char signature[4] = {1, 2, 3, 4};
    unsigned char data[4] = {5, 6, 7, 8};
    fake::ClearCalls();
    layer.Below().C_KTL_VerifySignature(signature, sizeof(signature), data, sizeof(data));
    EXPECT_THAT(fake::CallNames(), Not(Contains("C_KTL_VerifySignature")));
}

TEST_F(Layer, StandardCallEntryOutlivingItsLayerAnswersWithoutCalling)
{
    CK_C_KTL_VerifySignature entry = nullptr;
    {
        CFunctionListLayer layer(FakeList(), true, false);
        entry = layer.Below().C_KTL_VerifySignature;
    }
    unsigned char bytes[4] = {0};
    fake::ClearCalls();
    EXPECT_EQ(entry(bytes, sizeof(bytes), bytes, sizeof(bytes)), static_cast<CK_RV>(CKR_CRYPTOKI_NOT_INITIALIZED));
    EXPECT_TRUE(fake::Calls().empty());
}

TEST_F(Layer, OneModulePerProcess)
{
    CFunctionListLayer first(FakeList(), false, false);
    EXPECT_THROW(CFunctionListLayer(FakeList(), true, false), CustomException);
    EXPECT_EQ(CFunctionListLayer::Current(), &first);
}

TEST_F(Layer, OperatorHoldsTheLayerFromInitializeUntilFinalize)
{
    fake::AddSlot(2, "Reader");
    CTokenOperator op;
    op.Initialize(CModuleOptions{"", true, false});
    ASSERT_NE(CFunctionListLayer::Current(), nullptr);
    EXPECT_EQ(op.FunctionList(), CFunctionListLayer::Current()->Top());
    EXPECT_TRUE(op.UsesStandardCalls());
    EXPECT_TRUE(op.ModuleHasVendorEntries());
    op.SetCurrentSlot(2);
    fake::ClearCalls();
    op.Finalize();
    EXPECT_EQ(CFunctionListLayer::Current(), nullptr);
    EXPECT_EQ(op.FunctionList(), nullptr);
    EXPECT_FALSE(op.UsesStandardCalls());
    EXPECT_THAT(fake::CallNames(), ElementsAre("C_CloseAllSessions", "C_Finalize"));
}

TEST_F(Layer, OperatorOnAModuleWithoutEntries)
{
    fake::SetVendorWords(fake::VendorWords::Null);
    CTokenOperator op;
    op.Initialize();
    EXPECT_TRUE(op.UsesStandardCalls());
    EXPECT_FALSE(op.ModuleHasVendorEntries());
    op.Finalize();
}

}  // namespace
