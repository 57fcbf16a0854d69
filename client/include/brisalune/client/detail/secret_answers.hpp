#pragma once

// Sending a body that carries secrets. A refusal may quote what it refuses; the error made of
// it must not repeat a secret, so the answer is cleaned before the status mapping reads it.

#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/routing/secret_text.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

// The JSON answer with every secret cut out of its texts (keys are left as they are): one of
// eight characters or more wherever it stands, a shorter one where no letter or digit touches
// it; the empty text when the answer is no JSON, which the status mapping reads
// as carrying no texts at all.
std::string answerWithoutSecrets(std::string_view body, const std::vector<const SecretText*>& secrets);

// fetch for a body that lists its secrets with secrets().
template <class T, class Body>
T fetchKeepingSecrets(const BrisaluneClient& client, const Call& call, const Body& body) {
    Answer answer = client.send(call, body);
    if (answer.status < 200 || answer.status > 299) {
        throw BrisaluneClient::error(answer.status, answerWithoutSecrets(answer.body.text(), body.secrets()));
    }
    return decodeAnswer<T>(answer.body);
}

}  // namespace brisalune
