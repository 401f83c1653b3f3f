#include "core/instance.h"

#include <cstdint>

namespace orlimo {

std::string InstanceBusName(const std::string& base, const std::string& session_id) {
    if (session_id.empty()) return base;
    static const char kHex[] = "0123456789abcdef";
    std::string name = base + ".s";
    for (unsigned char c : session_id) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            name += static_cast<char>(c);
        } else {
            name += '_';
            name += kHex[c >> 4];
            name += kHex[c & 15];
        }
    }
    if (name.size() <= 255) return name;
    // FNV-1a, 64 bits: stable across builds and machines.
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : session_id) h = (h ^ c) * 1099511628211ull;
    name = base + ".h";
    for (int shift = 60; shift >= 0; shift -= 4) name += kHex[(h >> shift) & 15];
    return name;
}

}  // namespace orlimo
