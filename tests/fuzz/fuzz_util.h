// Shared pieces of the fuzz targets: a property check that the fuzzer
// reports as a crash, and chunk sizes for feeding streaming readers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace orlimo_fuzz {

// A violated property stops the run with a message; libFuzzer saves the input.
[[noreturn]] inline void PropertyFailed(const char* what, const char* file, int line) {
    std::fprintf(stderr, "property violated: %s (%s:%d)\n", what, file, line);
    std::fflush(stderr);
    __builtin_trap();
}

#define FUZZ_CHECK(cond)                                                     \
    do {                                                                     \
        if (!(cond)) ::orlimo_fuzz::PropertyFailed(#cond, __FILE__, __LINE__); \
    } while (0)

// Chunk sizes from a 32-bit seed taken from the input. The low bits pick a
// scale (single bytes, a few bytes, up to a few hundred, up to past the
// 64 KiB line cap, everything at once), so that every boundary can fall
// anywhere; zero-length chunks occur too.
class Chunker {
public:
    explicit Chunker(uint32_t seed) : state_(seed | 1u) {
        static const size_t kScales[] = {1, 4, 17, 300, 4096, 70000, SIZE_MAX - 1};
        max_ = kScales[(seed >> 1) % (sizeof kScales / sizeof kScales[0])];
        zero_allowed_ = (seed & 1u) != 0;
    }

    // The next chunk size, at most `remaining`.
    size_t Next(size_t remaining) {
        size_t n = static_cast<size_t>(Step() % (max_ + 1));
        if (n == 0 && !zero_allowed_) n = 1;
        return n < remaining ? n : remaining;
    }

private:
    uint32_t Step() {  // xorshift32
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    uint32_t state_;
    size_t max_;
    bool zero_allowed_;
};

// Signed decimal text written digit by digit, independent of std::to_string.
inline std::string Decimal(int32_t value) {
    int64_t v = value;
    const bool negative = v < 0;
    if (negative) v = -v;
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + v % 10));
        v /= 10;
    } while (v != 0);
    return negative ? "-" + digits : digits;
}

inline bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

inline bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace orlimo_fuzz
