// The content of the two format-1 archives in tests/engine/data, written by
// the first-generation engine: format1-stored.ks and format1-compressed.ks.
// Each function gives every version that was saved, in order; the tests
// check what the archives hold against them.
#ifndef KSENG_TESTS_FORMAT1_FIXTURES_H
#define KSENG_TESTS_FORMAT1_FIXTURES_H

#include "test_data.h"

#include <map>

namespace kseng {
namespace testing {

// Six text versions, 3 edits apart, saved by user "fixture" with comments
// "first", "v2" … "v6" and times 0x5A210000 + i. The archive was stored (not
// compressed), with a limit of 100; 1 and 3 permanent; then 2 and 1 were
// deleted (2 folds into 3, 1 stays as the hidden base) and the limit set to 50.
inline std::vector<std::vector<uint8_t>> format1StoredVersions() {
    std::mt19937 rng(31);
    std::vector<std::vector<uint8_t>> v{textLike(rng, 6000)};
    while (v.size() < 6) v.push_back(edited(rng, v.back(), 3));
    return v;
}

// A compressed archive: a 9 MiB version, a 4 KiB text and then one letter
// (large enough for zlib chunks), its edit, an unrelated small text and its
// edit, with comments "large", "c2" … "c4" and a limit of 10; then version 2
// was deleted.
inline std::vector<std::vector<uint8_t>> format1CompressedVersions() {
    std::mt19937 rng(32);
    std::vector<uint8_t> large = textLike(rng, 4096);
    large.resize(9u << 20, 'k');
    std::vector<std::vector<uint8_t>> v{large};
    v.push_back(edited(rng, large, 3));
    v.push_back(textLike(rng, 7000));
    v.push_back(edited(rng, v.back(), 2));
    return v;
}

}  // namespace testing
}  // namespace kseng

#endif
