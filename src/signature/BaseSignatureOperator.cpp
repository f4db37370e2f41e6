#include "signature/BaseSignatureOperator.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>

extern "C" {
#include <b64/cdecode.h>
#include <b64/cencode.h>
}

#include "signature/RegularFile.h"
#include "signature/UninitializedBuffer.h"
#include "support/CustomException.h"
#include "support/PKCSException.h"

namespace {

// Every object search reports failures under this one name.
const char kSearchOperation[] = "CTokenOperator::SignData";

const char kBeginMarker[] = "-----BEGIN CERTIFICATE-----";
const char kEndMarker[] = "-----END CERTIFICATE-----";
const std::size_t kBeginMarkerLength = sizeof(kBeginMarker) - 1;

const std::size_t kDerChunk = 2048;
const std::size_t kP12Chunk = 4096;
const std::size_t kPemChunk = 65536;
// Test files are small; anything larger is not one, and is never read into memory.
const std::size_t kMaxTestFileSize = 1024 * 1024;

const char kDerFileName[] = "csr_der.dat";
const char kBase64FileName[] = "csr_base64.txt";
const std::size_t kEncodeInputBlock = 16u * 1024 * 1024;

const char kCsrMessage[] =
    "CSR created. You may now proceed to http://testca.tokentest.example/request/chooseMethod/id/3/"
    " to get a test certificate for your CSR or contact your preferred certificate authority to get a"
    " non-test certificate";

// The path with its directory replaced.
std::string InDirectory(const std::string& directory, const std::string& path)
{
    return directory + path.substr(path.rfind('/') + 1);
}

void PrintCannotOpen(const char* path)
{
    std::cout << "Couldn't open file '" << path << "\"\r\nTry again.\r\n" << std::flush;
}

std::string QuotedFileMessage(const char* verb, const char* fileName)
{
    return std::string("couldn't ") + verb + " file \"" + fileName + "\"";
}

// Appends the rest of the file to `out`, one chunk at a time. False when a read fails
// before the end of the file or the file turns out larger than `limit`.
template <typename Container>
bool AppendFile(CRegularFile& in, std::size_t chunkSize, std::size_t limit, Container& out)
{
    std::vector<char> chunk(chunkSize);
    for (;;) {
        const ssize_t got = in.Read(chunk.data(), chunk.size());
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        if (static_cast<std::size_t>(got) > limit - std::min(limit, out.size())) {
            return false;
        }
        out.insert(out.end(), chunk.data(), chunk.data() + got);
    }
}

// Opens `path` and reads it whole; prints the open-failure message and returns false when
// the path is not a readable regular file (a directory, a FIFO, a device) of at most
// kMaxTestFileSize bytes, leaving `out` empty.
template <typename Container>
bool ReadWholeFile(const char* path, std::size_t chunkSize, Container& out)
{
    CRegularFile in = CRegularFile::OpenForReading(path);
    if (!in.IsOpen() || in.Size() > static_cast<off_t>(kMaxTestFileSize) ||
        !AppendFile(in, chunkSize, kMaxTestFileSize, out)) {
        out.clear();
        PrintCannotOpen(path);
        return false;
    }
    return true;
}

// Decodes the Base64 body of the first certificate in `text`. One character after the
// begin marker and one before the end marker are the line ends that frame the body.
bool DecodeFirstCertificate(const std::string& text, std::vector<unsigned char>& out)
{
    const std::size_t begin = text.find(kBeginMarker);
    const std::size_t end = text.find(kEndMarker);
    if (begin == std::string::npos || end == std::string::npos || end < begin + kBeginMarkerLength + 2) {
        return false;
    }
    const std::size_t start = begin + kBeginMarkerLength + 1;
    const std::size_t length = end - 1 - start;

    // The decoder stores its pending partial byte one past what it has produced, so the
    // output gets one spare byte; decoded data is never longer than its text.
    out.resize(length + 1);
    base64_decodestate state;
    base64_init_decodestate(&state);
    std::size_t decoded = 0;
    for (std::size_t done = 0; done < length;) {
        const std::size_t step = std::min(kPemChunk, length - done);
        decoded += static_cast<std::size_t>(base64_decode_block(
            text.data() + start + done, static_cast<int>(step), reinterpret_cast<char*>(out.data()) + decoded, &state));
        done += step;
    }
    out.resize(decoded);
    return true;
}

CRegularFile CreateOrThrow(const char* fileName)
{
    CRegularFile file = CRegularFile::CreateForWriting(fileName);
    if (!file.IsOpen()) {
        throw CustomException(QuotedFileMessage("open", fileName));
    }
    return file;
}

void WriteOrThrow(CRegularFile& out, const char* bytes, std::size_t count, const char* fileName)
{
    if (!out.WriteAll(bytes, count)) {
        throw CustomException(QuotedFileMessage("write", fileName));
    }
}

void CloseOrThrow(CRegularFile& file, const char* fileName)
{
    if (!file.Close()) {
        throw CustomException(QuotedFileMessage("write", fileName));
    }
}

// Streams `in` through the libb64 encoder into `out` with two fixed blocks; the blocks are
// never zero-filled, so only what the encoding touches becomes resident.
void EncodeBase64(CRegularFile& in, CRegularFile& out)
{
    CUninitializedBuffer input(kEncodeInputBlock);
    CUninitializedBuffer output(2 * kEncodeInputBlock);
    base64_encodestate state;
    base64_init_encodestate(&state);
    for (;;) {
        const ssize_t got = in.Read(input.data(), input.size());
        if (got < 0) {
            throw CustomException(QuotedFileMessage("read", kDerFileName));
        }
        if (got == 0) {
            break;
        }
        const int produced = base64_encode_block(input.data(), static_cast<int>(got), output.data(), &state);
        WriteOrThrow(out, output.data(), static_cast<std::size_t>(produced), kBase64FileName);
    }
    const int produced = base64_encode_blockend(output.data(), &state);
    WriteOrThrow(out, output.data(), static_cast<std::size_t>(produced), kBase64FileName);
    base64_init_encodestate(&state);
}

}  // namespace

CBaseSignatureOperator::CBaseSignatureOperator() : m_keyPairId(100), m_secretKeyId(200), m_certificateId(59) {}

CBaseSignatureOperator::~CBaseSignatureOperator() = default;

void CBaseSignatureOperator::SetConfDir(const std::string& directory)
{
    m_p12FilePath = InDirectory(directory, m_p12FilePath);
    m_base64CertificatePath = InDirectory(directory, m_base64CertificatePath);
    m_derCertificatePath = InDirectory(directory, m_derCertificatePath);
}

void CBaseSignatureOperator::ThrowIfFailed(CK_RV rv, const char* operation)
{
    if (rv != CKR_OK) {
        throw CPKCSException(rv, operation);
    }
}

// ---- Vendor entries -------------------------------------------------------------------

namespace {

template <typename Entry>
Entry RequireEntry(Entry entry, const char* name)
{
    if (entry == nullptr) {
        throw CustomException(std::string("Function \"") + name + "\" was not found in PKCS library.");
    }
    return entry;
}

}  // namespace

CK_C_KTL_LoadCert CBaseSignatureOperator::VendorLoadCert() const
{
    return RequireEntry(VendorFunctions()->C_KTL_LoadCert, "C_KTL_LoadCert");
}

CK_C_KTL_LoadX509Cert CBaseSignatureOperator::VendorLoadX509Cert() const
{
    return RequireEntry(VendorFunctions()->C_KTL_LoadX509Cert, "C_KTL_LoadX509Cert");
}

CK_C_KTL_CreateCSR CBaseSignatureOperator::VendorCreateCSR() const
{
    return RequireEntry(VendorFunctions()->C_KTL_CreateCSR, "C_KTL_CreateCSR");
}

CK_C_KTL_SignWithCert CBaseSignatureOperator::VendorSignWithCert() const
{
    return RequireEntry(VendorFunctions()->C_KTL_SignWithCert, "C_KTL_SignWithCert");
}

CK_C_KTL_VerifySignature CBaseSignatureOperator::VendorVerifySignature() const
{
    return RequireEntry(VendorFunctions()->C_KTL_VerifySignature, "C_KTL_VerifySignature");
}

// ---- Lookup and deletion -------------------------------------------------------------

CK_OBJECT_HANDLE CBaseSignatureOperator::FindObject(CK_ATTRIBUTE* pTemplate, unsigned long ulCount)
{
    ThrowIfFailed(m_pFunctionList->C_FindObjectsInit(m_hSession, pTemplate, ulCount), kSearchOperation);
    CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;
    CK_ULONG count = 0;
    ThrowIfFailed(m_pFunctionList->C_FindObjects(m_hSession, &handle, 1, &count), kSearchOperation);
    // The search is ended in both cases so the session stays usable for the next one.
    m_pFunctionList->C_FindObjectsFinal(m_hSession);
    if (count == 0) {
        throw CustomException("Object not found");
    }
    return handle;
}

CK_OBJECT_HANDLE CBaseSignatureOperator::FindByClassAndId(CK_OBJECT_CLASS objectClass, uint8_t id)
{
    CK_BYTE idByte = id;
    CK_ATTRIBUTE searchTemplate[] = {
        {CKA_CLASS, &objectClass, sizeof(objectClass)},
        {CKA_ID, &idByte, sizeof(idByte)},
    };
    return FindObject(searchTemplate, 2);
}

CK_OBJECT_HANDLE CBaseSignatureOperator::FindPublicKey() { return FindByClassAndId(CKO_PUBLIC_KEY, m_keyPairId); }

CK_OBJECT_HANDLE CBaseSignatureOperator::FindPrivateKey() { return FindByClassAndId(CKO_PRIVATE_KEY, m_keyPairId); }

CK_OBJECT_HANDLE CBaseSignatureOperator::FindSecretKey() { return FindByClassAndId(CKO_SECRET_KEY, m_secretKeyId); }

CK_OBJECT_HANDLE CBaseSignatureOperator::FindX509Certificate()
{
    return FindByClassAndId(CKO_CERTIFICATE, m_certificateId);
}

void CBaseSignatureOperator::DeleteKeyPair()
{
    // Both halves are found before anything is destroyed, so a half pair stays whole.
    const CK_OBJECT_HANDLE privateKey = FindPrivateKey();
    const CK_OBJECT_HANDLE publicKey = FindPublicKey();
    m_pFunctionList->C_DestroyObject(m_hSession, publicKey);
    m_pFunctionList->C_DestroyObject(m_hSession, privateKey);
}

void CBaseSignatureOperator::DeleteSecretKey()
{
    m_pFunctionList->C_DestroyObject(m_hSession, FindSecretKey());
}

void CBaseSignatureOperator::DeleteX509Certificate()
{
    m_pFunctionList->C_DestroyObject(m_hSession, FindX509Certificate());
}

void CBaseSignatureOperator::StoreSecretKey() {}

// ---- File readers ----------------------------------------------------------------------

bool CBaseSignatureOperator::ReadCertificateFileDER(const char* path, std::vector<unsigned char>& rCertificate)
{
    if (!rCertificate.empty()) {
        throw CustomException("CBaseSignatureOperator::ReadCertificateFileDER : rCertificate is not empty");
    }
    return ReadWholeFile(path, kDerChunk, rCertificate);
}

bool CBaseSignatureOperator::ReadP12File(const char* path, std::vector<unsigned char>& rP12data)
{
    if (!rP12data.empty()) {
        throw CustomException("CBaseSignatureOperator::ReadP12File : rP12data is not empty");
    }
    return ReadWholeFile(path, kP12Chunk, rP12data);
}

bool CBaseSignatureOperator::ReadCertificateFileBase64(const char* path, std::vector<unsigned char>& rCertificate)
{
    if (!rCertificate.empty()) {
        throw CustomException("CTokenOperator::ReadCertificateFile : rCertificate is not empty");
    }
    std::string text;
    if (!ReadWholeFile(path, kPemChunk, text)) {
        return false;
    }
    return DecodeFirstCertificate(text, rCertificate);
}

// ---- Certificate import ----------------------------------------------------------------

std::vector<unsigned char> CBaseSignatureOperator::ReadTestFile(Reader reader, const std::string& path,
                                                                const char* missingMessage)
{
    std::vector<unsigned char> content;
    if (!(this->*reader)(path.c_str(), content)) {
        throw CustomException(missingMessage);
    }
    return content;
}

std::vector<unsigned char> CBaseSignatureOperator::ReadTestCertificateDER()
{
    return ReadTestFile(&CBaseSignatureOperator::ReadCertificateFileDER, m_derCertificatePath,
                        "Test X.509 DER certificate was not found. Terminating...");
}

std::vector<unsigned char> CBaseSignatureOperator::ReadTestCertificateBase64()
{
    return ReadTestFile(&CBaseSignatureOperator::ReadCertificateFileBase64, m_base64CertificatePath,
                        "Test X.509 Base64 certificate was not found. Terminating...");
}

std::vector<unsigned char> CBaseSignatureOperator::ReadTestP12File()
{
    return ReadTestFile(&CBaseSignatureOperator::ReadP12File, m_p12FilePath,
                        "Test file in PKCS#12 format was not found. Terminating...");
}

void CBaseSignatureOperator::ImportX509Certificate(std::vector<unsigned char> certificate, const char* label,
                                                   const char* operation)
{
    CK_BYTE id = m_certificateId;
    ThrowIfFailed(VendorLoadX509Cert()(m_hSession, label, &id, 1, certificate.data(), certificate.size()), operation);
}

void CBaseSignatureOperator::LoadX509CertificateDER()
{
    CheckToken();
    ImportX509Certificate(ReadTestCertificateDER(), "Test x.509 DER certificate",
                          "CBaseSignatureOperator::LoadX509CertificateDER");
}

void CBaseSignatureOperator::LoadX509CertificateBase64()
{
    CheckToken();
    ImportX509Certificate(ReadTestCertificateBase64(), "Test x.509 Base64 certificate",
                          "CBaseSignatureOperator::LoadCertificateBase64");
}

void CBaseSignatureOperator::LoadCertificateWithKey()
{
    CheckToken();
    std::vector<unsigned char> p12 = ReadTestP12File();
    std::vector<unsigned char> password(m_p12Password);
    ThrowIfFailed(VendorLoadCert()(m_hSession, p12.data(), p12.size(), password.data(), password.size()),
                  "C_KTL_LoadCert in CBaseSignatureOperator::LoadCertificateWithKey");
}

// ---- CSR ---------------------------------------------------------------------------------

std::vector<unsigned char> CBaseSignatureOperator::MakeContiguous(const char* const* strings, unsigned int count)
{
    std::vector<unsigned char> packed;
    for (unsigned int i = 0; i < count; ++i) {
        const std::size_t oldSize = packed.size();
        const std::size_t length = std::char_traits<char>::length(strings[i]) + 1;
        packed.resize(oldSize + length);
        std::copy(strings[i], strings[i] + length, packed.begin() + static_cast<std::ptrdiff_t>(oldSize));
    }
    return packed;
}

void CBaseSignatureOperator::GenerateCSR()
{
    CheckToken();
    const CK_OBJECT_HANDLE publicKey = FindPublicKey();
    const CK_OBJECT_HANDLE privateKey = FindPrivateKey();

    const char* const subject[] = {"CN", "name", "C", "RU"};
    const char* const attributes[] = {"challengePassword", "7591"};
    const char* const extensions[] = {"keyUsage", "digitalSignature,keyEncipherment", "1"};
    std::vector<unsigned char> subjectBlock = MakeContiguous(subject, 4);
    std::vector<unsigned char> attributeBlock = MakeContiguous(attributes, 2);
    std::vector<unsigned char> extensionBlock = MakeContiguous(extensions, 3);

    const CK_C_KTL_CreateCSR createCsr = VendorCreateCSR();
    const char* const operation = "CRsaSignatureOperator::GenerateCSR";
    CK_ULONG length = 0;
    ThrowIfFailed(createCsr(m_hSession, publicKey, subjectBlock.data(), 2, nullptr, &length, privateKey,
                            attributeBlock.data(), 1, extensionBlock.data(), 1),
                  operation);
    std::vector<unsigned char> csr(length);
    ThrowIfFailed(createCsr(m_hSession, publicKey, subjectBlock.data(), 2, csr.data(), &length, privateKey,
                            attributeBlock.data(), 1, extensionBlock.data(), 1),
                  operation);
    WriteToFile(csr.data(), csr.size());
    std::cout << kCsrMessage << "\n" << std::flush;
}

void CBaseSignatureOperator::WriteToFile(unsigned char* data, unsigned long length)
{
    {
        CRegularFile der = CreateOrThrow(kDerFileName);
        WriteOrThrow(der, reinterpret_cast<const char*>(data), length, kDerFileName);
        CloseOrThrow(der, kDerFileName);
    }
    // The Base64 file is made from the file on disk, so it shows what was really stored.
    CRegularFile der = CRegularFile::OpenForReading(kDerFileName, false);
    if (!der.IsOpen()) {
        throw CustomException(QuotedFileMessage("open", kDerFileName));
    }
    CRegularFile base64 = CreateOrThrow(kBase64FileName);
    EncodeBase64(der, base64);
    CloseOrThrow(base64, kBase64FileName);
}

// ---- Signatures ------------------------------------------------------------------------------

std::vector<unsigned char> CBaseSignatureOperator::MakeTestData()
{
    std::vector<unsigned char> data(32);
    for (unsigned char& byte : data) {
        byte = static_cast<unsigned char>(std::rand() & 0xFF);
    }
    return data;
}

bool CBaseSignatureOperator::ReportVerification(CK_RV rv, const char* operation)
{
    switch (rv) {
    case CKR_OK:
        return true;
    case CKR_SIGNATURE_INVALID:
        std::cout << "Data verification failed: signature doesn't match" << "\n" << std::flush;
        return false;
    case CKR_SIGNATURE_LEN_RANGE:
        std::cout << "Data verification failed: signature length doesn't match" << "\n" << std::flush;
        return false;
    default:
        throw CPKCSException(rv, operation);
    }
}

void CBaseSignatureOperator::SignAndVerifyWithKeyPair(CK_MECHANISM_TYPE mechanismType, const char* operation)
{
    CheckToken();
    std::vector<unsigned char> data = MakeTestData();
    const CK_OBJECT_HANDLE privateKey = FindPrivateKey();
    CK_MECHANISM mechanism = {mechanismType, nullptr, 0};

    ThrowIfFailed(m_pFunctionList->C_SignInit(m_hSession, &mechanism, privateKey), operation);
    CK_ULONG length = 0;
    ThrowIfFailed(m_pFunctionList->C_Sign(m_hSession, data.data(), data.size(), nullptr, &length), operation);
    std::vector<unsigned char> signature(length);
    ThrowIfFailed(m_pFunctionList->C_Sign(m_hSession, data.data(), data.size(), signature.data(), &length),
                  operation);
    // A module must not claim more than the buffer it was given.
    length = std::min<CK_ULONG>(length, signature.size());

    const CK_OBJECT_HANDLE publicKey = FindPublicKey();
    ThrowIfFailed(m_pFunctionList->C_VerifyInit(m_hSession, &mechanism, publicKey), operation);
    ReportVerification(m_pFunctionList->C_Verify(m_hSession, data.data(), data.size(), signature.data(), length),
                       operation);
}
