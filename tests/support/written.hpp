#pragma once

// What an encoder wrote, read back as a JSON value, to check it key by key.

#include <brisalune/platform/json.hpp>
#include <brisalune/platform/json_codec.hpp>

namespace brisalune::testkit {

template <class T>
json::Value written(const T& value) {
    return json::parse(json::encode(value));
}

}  // namespace brisalune::testkit
