#include "token/VendorDetection.h"

#include <dlfcn.h>
#include <link.h>

#include <cstdint>
#include <cstring>

namespace {

struct SegmentQuery {
    uintptr_t begin;
    uintptr_t end;
    ElfW(Word) flags;
    bool found;
};

int MatchSegment(dl_phdr_info* info, size_t, void* data)
{
    auto* query = static_cast<SegmentQuery*>(data);
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = info->dlpi_phdr[i];
        const uintptr_t start = info->dlpi_addr + header.p_vaddr;
        if (header.p_type == PT_LOAD && query->begin >= start && query->end <= start + header.p_memsz) {
            query->found = (header.p_flags & query->flags) == query->flags;
            return 1;
        }
    }
    return 0;
}

// True when [address, address + size) lies inside one loaded segment that has every
// permission in 'flags'.
bool InLoadedSegment(const void* address, size_t size, ElfW(Word) flags)
{
    const auto begin = reinterpret_cast<uintptr_t>(address);
    if (size == 0 || begin + size < begin) {
        return false;
    }
    SegmentQuery query = {begin, begin + size, flags, false};
    dl_iterate_phdr(MatchSegment, &query);
    return query.found;
}

// The object (by the load address dladdr gives) whose code 'entry' is, or null when 'entry'
// is no loaded code.
const void* CodeObject(const void* entry)
{
    Dl_info info;
    if (entry == nullptr || !InLoadedSegment(entry, 1, PF_R | PF_X) || dladdr(entry, &info) == 0) {
        return nullptr;
    }
    return info.dli_fbase;
}

}  // namespace

std::optional<CK_KTL_FUNCTION_LIST> CVendorDetection::Detect(const CK_FUNCTION_LIST* list,
                                                            CK_C_GetInterface getInterface)
{
    if (list == nullptr) {
        return std::nullopt;
    }
    if (getInterface != nullptr) {
        return FromInterface(list, getInterface);
    }
    // A 3.0 module's own object holds C_GetInterfaceList, C_GetInterface, C_LoginUser ...
    // after the 2.x entries: code of the module, but not the vendor's.
    if (list->version.major >= 3) {
        return std::nullopt;
    }
    return FromWordsAfter(list);
}

std::optional<CK_KTL_FUNCTION_LIST> CVendorDetection::FromInterface(const CK_FUNCTION_LIST* list,
                                                                    CK_C_GetInterface getInterface)
{
    CK_UTF8CHAR name[sizeof(kKtlVendorInterfaceName)];
    std::memcpy(name, kKtlVendorInterfaceName, sizeof(name));
    CK_INTERFACE* found = nullptr;
    if (getInterface(name, nullptr, &found, 0) != CKR_OK || found == nullptr || found->pFunctionList == nullptr) {
        return std::nullopt;
    }
    const auto* vendor = static_cast<const CK_KTL_VENDOR_FUNCTION_LIST*>(found->pFunctionList);
    if (vendor->version.major != kKtlVendorInterfaceMajor || vendor->C_KTL_LoadCert == nullptr ||
        vendor->C_KTL_LoadX509Cert == nullptr || vendor->C_KTL_CreateCSR == nullptr ||
        vendor->C_KTL_SignWithCert == nullptr || vendor->C_KTL_VerifySignature == nullptr) {
        return std::nullopt;
    }
    CK_KTL_FUNCTION_LIST extended;
    extended.standard = *list;
    extended.C_KTL_LoadCert = vendor->C_KTL_LoadCert;
    extended.C_KTL_LoadX509Cert = vendor->C_KTL_LoadX509Cert;
    extended.C_KTL_CreateCSR = vendor->C_KTL_CreateCSR;
    extended.C_KTL_SignWithCert = vendor->C_KTL_SignWithCert;
    extended.C_KTL_VerifySignature = vendor->C_KTL_VerifySignature;
    return extended;
}

std::optional<CK_KTL_FUNCTION_LIST> CVendorDetection::FromWordsAfter(const CK_FUNCTION_LIST* list)
{
    // A list on the heap (as a proxy module may hand out) or at the very end of a segment has
    // nothing of the module's behind it that could be read.
    if (!InLoadedSegment(list, sizeof(CK_KTL_FUNCTION_LIST), PF_R)) {
        return std::nullopt;
    }
    CK_KTL_FUNCTION_LIST extended;
    std::memcpy(&extended, list, sizeof(extended));
    const void* module = CodeObject(reinterpret_cast<const void*>(extended.standard.C_Initialize));
    if (module == nullptr) {
        return std::nullopt;
    }
    const void* const words[] = {
        reinterpret_cast<const void*>(extended.C_KTL_LoadCert),
        reinterpret_cast<const void*>(extended.C_KTL_LoadX509Cert),
        reinterpret_cast<const void*>(extended.C_KTL_CreateCSR),
        reinterpret_cast<const void*>(extended.C_KTL_SignWithCert),
        reinterpret_cast<const void*>(extended.C_KTL_VerifySignature),
    };
    for (const void* word : words) {
        if (CodeObject(word) != module) {
            return std::nullopt;
        }
    }
    return extended;
}
