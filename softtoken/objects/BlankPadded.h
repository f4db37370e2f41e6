#pragma once
// Fills a fixed-size PKCS#11 text field: the text, cut to the field, then blanks; no NUL.
#include <algorithm>
#include <cstring>
#include <string>

namespace softtoken {

inline void BlankPadded(unsigned char* field, size_t size, const std::string& text) {
    std::memset(field, ' ', size);
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

}  // namespace softtoken
