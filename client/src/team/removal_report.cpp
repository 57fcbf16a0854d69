#include <brisalune/client/team/removal_report.hpp>

namespace brisalune {

const std::string& RemovedMemberObject::displayLabel() const noexcept {
    if (name && !name->empty()) return *name;
    if (id && !id->empty()) return *id;
    return kind;
}

}  // namespace brisalune
