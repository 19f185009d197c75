// Damaged files: every variant of a real document either loads (and then is a set that writes and
// reads back unchanged) or is rejected and kept aside. Nothing crashes, hangs or throws.

#include "model/setlist_codec.h"
#include "model/store.h"
#include "model/test_setlists.h"
#include "support/test_support.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <nlohmann/json.hpp>
#include <random>

using namespace strata;
using namespace strata::testing;
namespace fs = std::filesystem;

namespace {

// One random change of the kind that disks, editors and half-finished writes make.
std::string mutate(const std::string& original, std::mt19937& rng) {
    static constexpr std::string_view interesting =
        "{}[]\":,\\0123456789eE.-+tfnul \n\x00\x7f\xff\xc3";
    auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n)(rng);
    };
    std::string s = original;
    switch (pick(7)) {
    case 0: // truncated
        s.resize(pick(s.size()));
        break;
    case 1: // a few flipped bits
        for (std::size_t i = 0, n = 1 + pick(3); i < n && !s.empty(); ++i)
            s[pick(s.size() - 1)] ^= static_cast<char>(1 << pick(7));
        break;
    case 2: // a byte replaced by one that matters to JSON
        for (std::size_t i = 0, n = 1 + pick(2); i < n && !s.empty(); ++i)
            s[pick(s.size() - 1)] = interesting[pick(interesting.size() - 1)];
        break;
    case 3: { // a range removed
        const std::size_t at = pick(s.size());
        s.erase(at, pick(64));
        break;
    }
    case 4: { // a range copied elsewhere
        const std::size_t from = pick(s.size());
        const std::string piece = s.substr(from, pick(200));
        s.insert(pick(s.size()), piece);
        break;
    }
    case 5: // nesting bombs and long runs
        s.insert(pick(s.size()), std::string(pick(15) == 0 ? 100001 : 300, "[{\"0"[pick(3)]));
        break;
    case 6: { // one value (or a whole container) swapped for a value of another kind, or removed
        nlohmann::json doc = nlohmann::json::parse(original);
        const auto leaves = doc.flatten();
        auto it = leaves.begin();
        std::advance(it, static_cast<std::ptrdiff_t>(pick(leaves.size() - 1)));
        nlohmann::json::json_pointer ptr(it.key());
        for (std::size_t up = pick(3); up > 0 && !ptr.empty(); --up)
            ptr = ptr.parent_pointer();
        if (ptr.empty())
            break;
        static const nlohmann::json others[] = {nullptr,
                                                "x",
                                                2.5,
                                                -1,
                                                0,
                                                true,
                                                nlohmann::json::array(),
                                                nlohmann::json::object(),
                                                nlohmann::json::parse("18446744073709551615"),
                                                "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"};
        if (pick(3) == 0 && doc[ptr.parent_pointer()].is_object())
            doc[ptr.parent_pointer()].erase(ptr.back());
        else
            doc[ptr] = others[pick(std::size(others) - 1)];
        s = doc.dump(pick(1) ? 2 : -1);
        break;
    }
    default: // the file cut and joined to its own tail
        s = s.substr(0, pick(s.size())) + s.substr(pick(s.size()));
        break;
    }
    return s;
}

} // namespace

TEST(SetlistMutation, DamagedVariantsLoadConsistentlyOrFallBack) {
    const std::string original = *encodeSetlist(richSetlist());
    std::mt19937 rng(20250520);
    TempDir tmp;
    const auto location = StoreLocation::under(tmp.path());
    const fs::path file = Store::fileURL(location);
    LogCapture quiet;

    int loaded = 0, rejected = 0;
    for (int i = 0; i < 4000; ++i) {
        const std::string variant = mutate(original, rng);
        const auto decoded = decodeSetlist(variant);
        if (decoded) {
            ++loaded;
            // Whatever loads is a proper set: it writes and reads back unchanged.
            const auto bytes = encodeSetlist(*decoded);
            ASSERT_TRUE(bytes);
            ASSERT_EQ(decodeSetlist(*bytes), decoded) << "variant " << i;
        } else {
            ++rejected;
        }
        // Every tenth variant goes through the store as a file on disk.
        if (i % 10 == 0) {
            std::ofstream(file, std::ios::binary) << variant;
            const auto viaStore = Store::load(location);
            ASSERT_EQ(viaStore.has_value(), decoded.has_value()) << "variant " << i;
            ASSERT_EQ(fs::exists(file), decoded.has_value()) << "variant " << i;
            for (const auto& entry : fs::directory_iterator(file.parent_path()))
                fs::remove(entry.path());
        }
    }
    // The mix must exercise both outcomes, or the test proves little.
    std::cout << "loaded " << loaded << ", rejected " << rejected << "\n";
    EXPECT_GT(loaded, 400);
    EXPECT_GT(rejected, 400);
}
