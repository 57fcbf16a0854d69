#pragma once

// A compact JSON writer: strings escaped per RFC 8259, numbers in their shortest round-trip form.
// Throws EncodeError on invalid UTF-8, non-finite numbers and nesting deeper than json::maxDepth.

#include <brisalune/platform/json.hpp>

#include <cstdint>
#include <string>
#include <string_view>

namespace brisalune::json {

class Writer {
public:
    void null();
    void boolean(bool value);
    void integer(std::int64_t value);
    void unsignedInteger(std::uint64_t value);
    void number(double value);
    void string(std::string_view value);

    void beginObject();
    void key(std::string_view key);  // then exactly one value
    void endObject();
    void beginArray();
    void endArray();

    // The text written so far; the writer is empty afterwards.
    std::string take();

private:
    void separate();  // the comma before a value or key that is not the first of its container
    void open(char bracket);
    void close(char bracket);

    std::string out_;
    std::size_t depth_ = 0;
    bool first_ = true;      // no element yet in the innermost container
    bool afterKey_ = false;  // a key was just written: its value needs no comma
};

}  // namespace brisalune::json
