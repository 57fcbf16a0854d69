#include <brisalune/client/logs/secrets.hpp>

#include <brisalune/client/detail/log_text.hpp>

namespace brisalune {

bool SecretFinding::matches(std::string_view findingId) const { return signedDecimal(findingId) == id; }

}  // namespace brisalune
