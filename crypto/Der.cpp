#include "Der.h"

#include "OpenSsl.h"

#include <openssl/objects.h>

namespace crypto {

Bytes Der::Tlv(unsigned char tag, const Bytes& content) {
    Bytes out{tag};
    size_t length = content.size();
    if (length < 0x80) {
        out.push_back(static_cast<unsigned char>(length));
    } else {
        Bytes lengthBytes;
        for (size_t rest = length; rest != 0; rest >>= 8)
            lengthBytes.insert(lengthBytes.begin(), static_cast<unsigned char>(rest & 0xFF));
        out.push_back(static_cast<unsigned char>(0x80 | lengthBytes.size()));
        out.insert(out.end(), lengthBytes.begin(), lengthBytes.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Der::Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

std::string Der::OidText(const Bytes& der) {
    if (der.empty() || der.size() > 64 || der[0] != kOid) return {};
    const unsigned char* p = der.data();
    Asn1ObjectPtr object(d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(der.size())));
    if (!object || p != der.data() + der.size()) {
        ERR_clear_error();
        return {};
    }
    char text[128];
    int length = OBJ_obj2txt(text, sizeof text, object.get(), 1);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof text) return {};
    return std::string(text, static_cast<size_t>(length));
}

Bytes Der::OidDer(const std::string& text) {
    Asn1ObjectPtr object(OBJ_txt2obj(text.c_str(), 1));
    if (!object) {
        ERR_clear_error();
        return {};
    }
    return EncodeDer<const ASN1_OBJECT, i2d_ASN1_OBJECT>(object.get());
}

}  // namespace crypto
