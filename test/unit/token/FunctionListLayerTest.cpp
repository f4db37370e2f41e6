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

TEST_F(VendorDetection, ListOfVersion3HasNoVendorWords)
{
    // The fake's own code follows its list either way; only the version tells them apart.
    fake::SetVendorWords(fake::VendorWords::Pkcs11v3);
    EXPECT_FALSE(CVendorDetection::Detect(FakeList()).has_value());
    fake::SetVendorWords(fake::VendorWords::Module);
    FakeList()->version = {3, 1};
    EXPECT_FALSE(CVendorDetection::Detect(FakeList()).has_value());
    FakeList()->version = {2, 40};
    EXPECT_TRUE(CVendorDetection::Detect(FakeList()).has_value());
}

// ---- the vendor interface of a module that exports C_GetInterface ----

// What the test's C_GetInterface answers, and what it was asked.
struct InterfaceAnswer {
    CK_RV rv = CKR_OK;
    bool nullInterface = false;
    bool nullFunctionList = false;
    CK_BYTE major = kKtlVendorInterfaceMajor;
    int nullEntry = -1;   // index of a null entry, or -1
};

InterfaceAnswer g_answer;
Words g_interfaceWords;   // the entries the interface offers
std::vector<std::string> g_askedNames;
CK_KTL_VENDOR_FUNCTION_LIST g_vendorList;
CK_INTERFACE g_interface;

CK_RV TestGetInterface(CK_UTF8CHAR* name, CK_VERSION* version, CK_INTERFACE** found, CK_FLAGS flags)
{
    g_askedNames.push_back(name != nullptr ? reinterpret_cast<const char*>(name) : "(null)");
    EXPECT_EQ(version, nullptr);
    EXPECT_EQ(flags, 0u);
    const Words& words = g_interfaceWords;
    g_vendorList = {{g_answer.major, 0},
                    reinterpret_cast<CK_C_KTL_LoadCert>(const_cast<void*>(words[0])),
                    reinterpret_cast<CK_C_KTL_LoadX509Cert>(const_cast<void*>(words[1])),
                    reinterpret_cast<CK_C_KTL_CreateCSR>(const_cast<void*>(words[2])),
                    reinterpret_cast<CK_C_KTL_SignWithCert>(const_cast<void*>(words[3])),
                    reinterpret_cast<CK_C_KTL_VerifySignature>(const_cast<void*>(words[4]))};
    switch (g_answer.nullEntry) {
    case 0: g_vendorList.C_KTL_LoadCert = nullptr; break;
    case 2: g_vendorList.C_KTL_CreateCSR = nullptr; break;
    case 4: g_vendorList.C_KTL_VerifySignature = nullptr; break;
    default: break;
    }
    g_interface = {name, g_answer.nullFunctionList ? nullptr : &g_vendorList, 0};
    *found = g_answer.nullInterface ? nullptr : &g_interface;
    return g_answer.rv;
}

struct InterfaceCase {
    std::string name;
    InterfaceAnswer answer;
    bool detected;
};

void PrintTo(const InterfaceCase& c, std::ostream* out) { *out << c.name; }

class VendorInterface : public VendorDetection, public ::testing::WithParamInterface<InterfaceCase> {};

TEST_P(VendorInterface, IsTheOnlySourceOfEntries)
{
    g_answer = GetParam().answer;
    g_askedNames.clear();
    const Words module = ModuleWords();
    g_interfaceWords = module;
    // Garbage after the list: entries can only come from the interface.
    fake::SetVendorWords(fake::VendorWords::Garbage);
    const auto found = CVendorDetection::Detect(FakeList(), TestGetInterface);
    EXPECT_EQ(g_askedNames, std::vector<std::string>{"tokentest vendor"});
    ASSERT_EQ(found.has_value(), GetParam().detected);
    if (found) {
        EXPECT_EQ(WordsOf(*found), module);
        EXPECT_EQ(found->standard.C_Login, FakeList()->C_Login);
    }
}

TEST_F(VendorDetection, ModuleWithoutTheVendorInterfaceHasNoEntriesWhateverFollowsItsList)
{
    g_answer = InterfaceAnswer{CKR_ARGUMENTS_BAD, true};
    g_interfaceWords = ModuleWords();
    EXPECT_FALSE(CVendorDetection::Detect(FakeList(), TestGetInterface).has_value());
    EXPECT_TRUE(CVendorDetection::Detect(FakeList()).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, VendorInterface,
    ::testing::Values(InterfaceCase{"Complete", InterfaceAnswer{}, true},
                      InterfaceCase{"NotPublished", InterfaceAnswer{CKR_ARGUMENTS_BAD, true}, false},
                      InterfaceCase{"RefusedWithAnInterface", InterfaceAnswer{CKR_FUNCTION_FAILED}, false},
                      InterfaceCase{"NoInterface", InterfaceAnswer{CKR_OK, true}, false},
                      InterfaceCase{"NoFunctionList", InterfaceAnswer{CKR_OK, false, true}, false},
                      InterfaceCase{"OtherVersion", InterfaceAnswer{CKR_OK, false, false, 2}, false},
                      InterfaceCase{"FirstEntryNull", InterfaceAnswer{CKR_OK, false, false, 1, 0}, false},
                      InterfaceCase{"MiddleEntryNull", InterfaceAnswer{CKR_OK, false, false, 1, 2}, false},
                      InterfaceCase{"LastEntryNull", InterfaceAnswer{CKR_OK, false, false, 1, 4}, false}),
    [](const ::testing::TestParamInfo<InterfaceCase>& info) { return info.param.name; });

// ---- the layer ----

class Layer : public VendorDetection {};

TEST_F(Layer, ModuleEntriesAreUsedUnlessStandardCallsAreForced)
{
    const Words module = ModuleWords();
    {
        CFunctionListLayer layer(FakeList(), false, false);
        EXPECT_FALSE(layer.UsesStandardCalls());
        EXPECT_TRUE(layer.ModuleHasVendorEntries());
        EXPECT_EQ(WordsOf(layer.Below()), module);
        EXPECT_EQ(CFunctionListLayer::Current(), &layer);
        // The operators get a copy, never the module's own list.
        EXPECT_NE(layer.Top(), FakeList());
        EXPECT_EQ(layer.Top()->C_Login, FakeList()->C_Login);
        EXPECT_EQ(WordsOf(*reinterpret_cast<CK_KTL_FUNCTION_LIST*>(layer.Top())), module);
    }
    EXPECT_EQ(CFunctionListLayer::Current(), nullptr);

    CFunctionListLayer forced(FakeList(), true, false);
    EXPECT_TRUE(forced.UsesStandardCalls());
    EXPECT_TRUE(forced.ModuleHasVendorEntries());
    for (const void* word : WordsOf(forced.Below())) {
        EXPECT_THAT(module, Not(Contains(word)));
        EXPECT_NE(word, nullptr);
    }
    EXPECT_EQ(forced.Below().standard.C_Login, FakeList()->C_Login);
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
