#pragma once

// How every endpoint turns an answer into a value. Include it in endpoint sources only: it
// pulls in the JSON parser.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/core/errors.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <string>
#include <utility>

namespace brisalune {

// Decodes a 2xx body (an answer's document, or text) as T; any failure is invalidResponse with
// the decoder's full description. A document read by the gate already is not parsed again.
template <class T, class Body>
T decodeAnswer(const Body& body) {
    try {
        return json::decode<T>(body);
    } catch (const json::DecodeError& error) {
        throw BrisaluneError::invalidResponse(error.what());
    }
}

// Throws the mapped error for a status outside 200-299, else gives the answer back: the same
// one, not a copy, so that its parse is not lost.
inline const Answer& requireSuccess(const Answer& answer) {
    if (answer.status < 200 || answer.status > 299) throw BrisaluneClient::error(answer.status, answer.body);
    return answer;
}
inline Answer requireSuccess(Answer&& answer) {
    requireSuccess(std::as_const(answer));
    return std::move(answer);
}

// Sends the call (with its body, when given) and decodes a 2xx answer as T.
template <class T, class... Body>
T fetch(const BrisaluneClient& client, const Call& call, const Body&... body) {
    static_assert(sizeof...(Body) <= 1);
    return decodeAnswer<T>(requireSuccess(client.send(call, body...)).body);
}

// Sends the call and accepts any 2xx answer without reading its body.
template <class... Body>
void perform(const BrisaluneClient& client, const Call& call, const Body&... body) {
    static_assert(sizeof...(Body) <= 1);
    requireSuccess(client.send(call, body...));
}

}  // namespace brisalune
