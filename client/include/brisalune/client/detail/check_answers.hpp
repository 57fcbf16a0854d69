#pragma once

// The answer road of the checks service and the browser runs: a failed answer goes through
// checkError instead of the client's own mapping. Endpoint sources only.

#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/monitoring/check_endpoints.hpp>

namespace brisalune {

// Sends the call (with its body, when given) and decodes a 2xx answer as T.
template <class T, class... Body>
T fetchChecked(const BrisaluneClient& client, const Call& call, const Body&... body) {
    static_assert(sizeof...(Body) <= 1);
    Answer answer = client.send(call, body...);
    if (answer.status < 200 || answer.status > 299) throw checkError(answer.status, answer.body);
    return decodeAnswer<T>(answer.body);
}

}  // namespace brisalune
