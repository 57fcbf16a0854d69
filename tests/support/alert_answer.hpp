#pragma once

// The body of a 2xx answer that carries one alert.

#include <string>
#include <string_view>

namespace brisalune::testkit {

inline std::string alertAnswer(std::string_view id, std::string_view state = "acked") {
    return R"({"id":")" + std::string(id) + R"(","project":"p","rule":"r","state":")" + std::string(state) +
           R"(","level":1,"count":1,"escalation_level":0,"investigate":false,"template":"t",)"
           R"("last_message":"m","first_seen":1,"last_seen":1,"updated_seq":1})";
}

}  // namespace brisalune::testkit
