#include <brisalune/demo/fixture.hpp>

#include <brisalune/platform/json_decode.hpp>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace brisalune::demo {

Fixture loadFixture(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read the fixture " + path.string());
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    try {
        return json::decode<Fixture>(text);
    } catch (const json::DecodeError& error) {
        throw std::runtime_error("the fixture " + path.string() + " is not usable: " + error.what());
    }
}

std::filesystem::path defaultFixturePath() { return BRISALUNE_DEMO_FIXTURE; }

}  // namespace brisalune::demo
