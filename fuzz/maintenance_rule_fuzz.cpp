// Reads arbitrary bytes as a recurrence rule. The reader either gives up or yields a model that
// the writer turns into text the reader gives back unchanged; the non-failing reading always
// gives something whose text, when custom, is the input trimmed. Nothing escapes.
#include <brisalune/client/maintenance/recurrence.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using brisalune::MaintenanceRecurrence;

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto read = MaintenanceRecurrence::parse(text)) {
        const std::string written = read->rrule();
        const auto again = MaintenanceRecurrence::parse(written);
        require(again && *again == *read);
        require(again->rrule() == written);
        require(read->kind() != MaintenanceRecurrence::Kind::custom);
    }
    const MaintenanceRecurrence lenient = MaintenanceRecurrence::initFromRule(text);
    if (lenient.kind() == MaintenanceRecurrence::Kind::custom) {
        require(text.find(lenient.rrule()) != std::string_view::npos);
        require(lenient.end == MaintenanceRecurrence::End{});
    }
    return 0;
}
