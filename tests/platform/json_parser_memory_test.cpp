#include <brisalune/platform/json_decode.hpp>
#include <brisalune/platform/json_document.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <support/heap_in_use.hpp>

namespace brisalune {
namespace {

using testkit::heapInUse;

// A thread that decoded a huge answer once must not carry the parser it grew for the rest of
// its life (a 60 MB answer grew one to about 800 MB).
TEST(JsonParserMemory, AParserGrownByAHugeAnswerIsNotKeptByItsThread) {
    std::string huge = "[";
    while (huge.size() < (std::size_t{24} << 20)) huge += "0,";
    huge += "0]";
    std::int64_t kept = 0;
    std::thread([&] {
        const auto before = heapInUse();
        {
            const json::Document document(huge);
            EXPECT_EQ(json::decode<std::vector<double>>(document).size(), (huge.size() - 1) / 2);
        }
        EXPECT_EQ(json::decode<std::vector<double>>(std::string("[1,2]")).size(), 2U);  // the thread goes on
        kept = heapInUse() - before;
    }).join();
    EXPECT_LT(kept, std::int64_t{32} << 20);
}

}  // namespace
}  // namespace brisalune
