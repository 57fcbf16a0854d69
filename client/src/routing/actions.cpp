#include <brisalune/client/routing/actions.hpp>

namespace brisalune {

std::vector<const SecretText*> ActionDraft::secrets() const {
    std::vector<const SecretText*> out;
    if (headers) {
        for (const auto& header : *headers) out.push_back(&header.second);
    }
    if (body) out.push_back(&*body);
    return out;
}

}  // namespace brisalune
