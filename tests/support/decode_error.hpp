#pragma once

// What decoding a text as T fails with: the error's whole text, or "no error".

#include <brisalune/platform/json_decode.hpp>

#include <string>

namespace brisalune::testkit {

template <class T>
std::string decodeError(const std::string& text) try {
    json::decode<T>(text);
    return "no error";
} catch (const json::DecodeError& error) {
    return error.what();
}

}  // namespace brisalune::testkit
