// Content for engine tests: text-like and random files, and the small edits
// users make between two saves.
#ifndef KSENG_TESTS_TEST_DATA_H
#define KSENG_TESTS_TEST_DATA_H

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace kseng {
namespace testing {

inline std::vector<uint8_t> randomBytes(std::mt19937& rng, size_t n) {
    std::vector<uint8_t> out(n);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

inline std::vector<uint8_t> textLike(std::mt19937& rng, size_t n) {
    static const char* words[] = {"the ", "version ", "archive ", "of ", "report ", "keeps ", "every ",
                                  "file ", "and ", "delta ", "\n", "chapter ", "42 ", "quarterly ", ", "};
    std::vector<uint8_t> out;
    out.reserve(n + 16);
    while (out.size() < n) {
        const char* w = words[rng() % (sizeof words / sizeof *words)];
        out.insert(out.end(), w, w + std::char_traits<char>::length(w));
    }
    out.resize(n);
    return out;
}

// count edits of 50 to 100 bytes each: inserts, deletes and replacements.
inline std::vector<uint8_t> edited(std::mt19937& rng, std::vector<uint8_t> data, int count) {
    for (int i = 0; i < count; ++i) {
        size_t len = 50 + rng() % 51;
        size_t at = data.empty() ? 0 : rng() % data.size();
        switch (rng() % 3) {
        case 0: {
            auto bytes = randomBytes(rng, len);
            data.insert(data.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin(), bytes.end());
            break;
        }
        case 1:
            data.erase(data.begin() + static_cast<std::ptrdiff_t>(at),
                       data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), at + len)));
            break;
        default:
            for (size_t k = at; k < std::min(data.size(), at + len); ++k) data[k] = static_cast<uint8_t>(rng());
        }
    }
    return data;
}

}  // namespace testing
}  // namespace kseng

#endif
