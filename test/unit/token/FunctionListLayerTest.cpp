// Which vendor entries a module gets, and the layer the operators call through, against the
// fake module linked into this process.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <stdexcept>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FakeModule.h"
#include "support/CustomException.h"
#include "support/ModuleAnswers.h"
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

// ---- the module's answers, recorded below the standard-call entries ----

class LayerAnswers : public Layer {
protected:
    void SetUp() override
    {
        Layer::SetUp();
        CModuleAnswers::Clear();
    }
};

struct AnswerCase {
    const char* name;
    const char* entry;   // the entry the fake fails
    CK_RV rv;
    std::function<CK_RV(CK_FUNCTION_LIST&)> call;
    std::string recorded;
    std::optional<CK_USER_TYPE> refusedPin;
};

void PrintTo(const AnswerCase& c, std::ostream* out) { *out << c.name; }

class RecordedAnswer : public LayerAnswers, public ::testing::WithParamInterface<AnswerCase> {};

CK_ULONG g_class = CKO_PRIVATE_KEY;
CK_ULONG g_keyType = CKK_GOSTR3410;
CK_ULONG g_certificateType = CKC_X_509;
unsigned int g_shortClass = CKO_SECRET_KEY;
CK_MECHANISM g_mechanism = {CKM_GOSTR3410_WITH_GOSTR3411, nullptr, 0};
CK_MECHANISM g_unnamedMechanism = {0x8000abcdUL, nullptr, 0};
CK_UTF8CHAR g_pin[] = {'1', '2'};

TEST_P(RecordedAnswer, NamesTheCallAndWhatIdentifiesIt)
{
    for (const bool standardCalls : {false, true}) {
        SCOPED_TRACE(standardCalls ? "standard calls" : "vendor entries");
        fake::Reset();
        CModuleAnswers::Clear();
        if (GetParam().entry != nullptr) fake::Fail(GetParam().entry, GetParam().rv);
        CFunctionListLayer layer(FakeList(), standardCalls, false);
        EXPECT_EQ(GetParam().call(*layer.Top()), GetParam().rv);
        const auto answer = CModuleAnswers::Latest(GetParam().rv);
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(answer->call, GetParam().recorded);
        EXPECT_FALSE(answer->missingEntry);
        EXPECT_EQ(answer->refusedPin, GetParam().refusedPin);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Entries, RecordedAnswer,
    ::testing::Values(
        AnswerCase{"SoLogin", "C_Login", CKR_PIN_INCORRECT,
                   [](CK_FUNCTION_LIST& l) { return l.C_Login(1, CKU_SO, g_pin, sizeof(g_pin)); }, "C_Login (CKU_SO)",
                   CKU_SO},
        AnswerCase{"UserLoginOtherFailure", "C_Login", CKR_DEVICE_ERROR,
                   [](CK_FUNCTION_LIST& l) { return l.C_Login(1, CKU_USER, g_pin, sizeof(g_pin)); },
                   "C_Login (CKU_USER)", std::nullopt},
        AnswerCase{"UnknownUserType", "C_Login", CKR_USER_TYPE_INVALID,
                   [](CK_FUNCTION_LIST& l) { return l.C_Login(1, 7, g_pin, sizeof(g_pin)); }, "C_Login (0x7)",
                   std::nullopt},
        AnswerCase{"InitTokenPinLength", "C_InitToken", CKR_PIN_LEN_RANGE,
                   [](CK_FUNCTION_LIST& l) {
                       CK_UTF8CHAR label[32] = {0};
                       return l.C_InitToken(1, g_pin, sizeof(g_pin), label);
                   },
                   "C_InitToken", CKU_SO},
        AnswerCase{"CreateKey", "C_CreateObject", CKR_TEMPLATE_INCONSISTENT,
                   [](CK_FUNCTION_LIST& l) {
                       CK_ATTRIBUTE t[] = {{CKA_KEY_TYPE, &g_keyType, sizeof(g_keyType)},
                                           {CKA_CLASS, &g_class, sizeof(g_class)}};
                       CK_OBJECT_HANDLE h = 0;
                       return l.C_CreateObject(1, t, 2, &h);
                   },
                   "C_CreateObject (CKO_PRIVATE_KEY, CKK_GOSTR3410)", std::nullopt},
        AnswerCase{"CreateCertificate", "C_CreateObject", CKR_ATTRIBUTE_VALUE_INVALID,
                   [](CK_FUNCTION_LIST& l) {
                       CK_ULONG certificateClass = CKO_CERTIFICATE;
                       CK_ATTRIBUTE t[] = {{CKA_CLASS, &certificateClass, sizeof(certificateClass)},
                                           {CKA_CERTIFICATE_TYPE, &g_certificateType, sizeof(g_certificateType)}};
                       CK_OBJECT_HANDLE h = 0;
                       return l.C_CreateObject(1, t, 2, &h);
                   },
                   "C_CreateObject (CKO_CERTIFICATE, CKC_X_509)", std::nullopt},
        // A class value of the wrong size is never read.
        AnswerCase{"CreateWithShortClass", "C_CreateObject", CKR_ATTRIBUTE_VALUE_INVALID,
                   [](CK_FUNCTION_LIST& l) {
                       CK_ATTRIBUTE t[] = {{CKA_CLASS, &g_shortClass, sizeof(g_shortClass)}};
                       CK_OBJECT_HANDLE h = 0;
                       return l.C_CreateObject(1, t, 1, &h);
                   },
                   "C_CreateObject", std::nullopt},
        AnswerCase{"CreateWithoutTemplate", "C_CreateObject", CKR_ARGUMENTS_BAD,
                   [](CK_FUNCTION_LIST& l) {
                       CK_OBJECT_HANDLE h = 0;
                       return l.C_CreateObject(1, nullptr, 3, &h);
                   },
                   "C_CreateObject", std::nullopt},
        AnswerCase{"Search", "C_FindObjectsInit", CKR_OPERATION_ACTIVE,
                   [](CK_FUNCTION_LIST& l) {
                       CK_ATTRIBUTE t[] = {{CKA_CLASS, &g_class, sizeof(g_class)}};
                       return l.C_FindObjectsInit(1, t, 1);
                   },
                   "C_FindObjectsInit (CKO_PRIVATE_KEY)", std::nullopt},
        AnswerCase{"Attributes", "C_GetAttributeValue", CKR_ATTRIBUTE_SENSITIVE,
                   [](CK_FUNCTION_LIST& l) {
                       CK_ATTRIBUTE t[] = {{CKA_MODULUS, nullptr, 0}, {0x8000aaaaUL, nullptr, 0}};
                       return l.C_GetAttributeValue(1, 2, t, 2);
                   },
                   "C_GetAttributeValue (CKA_MODULUS, 0x8000aaaa)", std::nullopt},
        AnswerCase{"SignInit", "C_SignInit", CKR_MECHANISM_INVALID,
                   [](CK_FUNCTION_LIST& l) { return l.C_SignInit(1, &g_mechanism, 2); },
                   "C_SignInit (CKM_GOSTR3410_WITH_GOSTR3411)", std::nullopt},
        AnswerCase{"KeyPairWithUnnamedMechanism", "C_GenerateKeyPair", CKR_MECHANISM_INVALID,
                   [](CK_FUNCTION_LIST& l) {
                       CK_OBJECT_HANDLE pub = 0, priv = 0;
                       return l.C_GenerateKeyPair(1, &g_unnamedMechanism, nullptr, 0, nullptr, 0, &pub, &priv);
                   },
                   "C_GenerateKeyPair (0x8000abcd)", std::nullopt},
        AnswerCase{"NoMechanism", "C_VerifyInit", CKR_ARGUMENTS_BAD,
                   [](CK_FUNCTION_LIST& l) { return l.C_VerifyInit(1, nullptr, 2); }, "C_VerifyInit (no mechanism)",
                   std::nullopt},
        // The fake offers no mechanism information: its own answer, not a missing entry.
        AnswerCase{"MechanismInfo", nullptr, CKR_FUNCTION_NOT_SUPPORTED,
                   [](CK_FUNCTION_LIST& l) {
                       CK_MECHANISM_INFO info;
                       return l.C_GetMechanismInfo(1, CKM_GOST28147_MAC, &info);
                   },
                   "C_GetMechanismInfo (CKM_GOST28147_MAC)", std::nullopt},
        AnswerCase{"Sign", "C_Sign", CKR_DEVICE_REMOVED,
                   [](CK_FUNCTION_LIST& l) {
                       CK_ULONG length = 0;
                       return l.C_Sign(1, g_pin, sizeof(g_pin), nullptr, &length);
                   },
                   "C_Sign", std::nullopt}),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.name); });

TEST_F(LayerAnswers, SuccessesAreNotRecorded)
{
    fake::AddSlot(1, "Reader");
    CFunctionListLayer layer(FakeList(), false, false);
    CK_ULONG count = 0;
    ASSERT_EQ(layer.Top()->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    EXPECT_FALSE(CModuleAnswers::Latest(CKR_OK).has_value());
}

TEST_F(LayerAnswers, VendorEntriesAreTheModulesOwnCallsUnlessStandardCallsDoThem)
{
    unsigned char bytes[4] = {0};
    fake::Fail("C_KTL_LoadCert", CKR_DATA_INVALID);
    {
        CFunctionListLayer layer(FakeList(), false, false);
        const auto& top = *reinterpret_cast<CK_KTL_FUNCTION_LIST*>(layer.Top());
        EXPECT_EQ(top.C_KTL_LoadCert(1, bytes, sizeof(bytes), bytes, sizeof(bytes)), CKR_DATA_INVALID);
        EXPECT_EQ(CModuleAnswers::Latest(CKR_DATA_INVALID)->call, "C_KTL_LoadCert");
    }
    // Done with standard calls, the entry's own outcome is not an answer of the module: only
    // the standard calls it makes are.
    CModuleAnswers::Clear();
    CFunctionListLayer forced(FakeList(), true, false);
    const auto& top = *reinterpret_cast<CK_KTL_FUNCTION_LIST*>(forced.Top());
    const CK_RV rv = top.C_KTL_LoadCert(1, bytes, sizeof(bytes), bytes, sizeof(bytes));
    EXPECT_NE(rv, CKR_OK);
    EXPECT_FALSE(CModuleAnswers::Latest(rv).has_value());
    EXPECT_EQ(top.C_KTL_VerifySignature(bytes, 4, bytes, 4), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_FALSE(CModuleAnswers::Latest(CKR_FUNCTION_NOT_SUPPORTED).has_value());
}

TEST_F(LayerAnswers, NullStandardEntriesAreStubsThatNeverCallTheModule)
{
    fake::SetNullEntries({"C_Initialize", "C_SignInit", "C_WaitForSlotEvent"});
    for (const bool trace : {false, true}) {
        CModuleAnswers::Clear();
        testing::internal::CaptureStderr();
        CFunctionListLayer layer(FakeList(), false, trace);
        CK_FUNCTION_LIST* top = layer.Top();
        ASSERT_NE(top->C_Initialize, nullptr);
        ASSERT_NE(top->C_SignInit, nullptr);
        ASSERT_NE(layer.Below().standard.C_WaitForSlotEvent, nullptr);
        fake::ClearCalls();
        EXPECT_EQ(top->C_Initialize(nullptr), CKR_FUNCTION_NOT_SUPPORTED);
        EXPECT_EQ(top->C_SignInit(1, &g_mechanism, 2), CKR_FUNCTION_NOT_SUPPORTED);
        top->C_Logout(1);
        const std::string traced = testing::internal::GetCapturedStderr();
        EXPECT_THAT(fake::CallNames(), ElementsAre("C_Logout"));
        const auto answer = CModuleAnswers::Latest(CKR_FUNCTION_NOT_SUPPORTED);
        ASSERT_TRUE(answer.has_value());
        EXPECT_TRUE(answer->missingEntry);
        EXPECT_EQ(answer->call, "C_SignInit");
        if (trace) {
            EXPECT_THAT(traced, ::testing::HasSubstr("C_SignInit(1, CKM_GOSTR3410_WITH_GOSTR3411, 2) = "
                                                     "CKR_FUNCTION_NOT_SUPPORTED"));
        }
    }
    fake::Reset();
    EXPECT_NE(FakeList()->C_SignInit, nullptr);
    EXPECT_THROW(fake::SetNullEntries({"C_KTL_LoadCert"}), std::invalid_argument);
}
