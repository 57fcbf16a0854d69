#pragma once

// A JSON text kept together with its parse, so that several readers of one text
// (an answer read by the compatibility gate, then by the decoder or the error
// mapping) parse it once. This header stays light; reading the parse (`root()`,
// `json::decode<T>(document)`) needs json_decode.hpp.

#include <memory>
#include <string>

namespace brisalune::json {

class Node;

class Document {
public:
    Document() noexcept;
    explicit Document(std::string text) noexcept;
    ~Document();
    Document(Document&& other) noexcept;
    Document& operator=(Document&& other) noexcept;
    // A copy takes the text only and parses it again if it is read.
    Document(const Document& other);
    Document& operator=(const Document& other);

    const std::string& text() const noexcept { return text_; }
    // Hands the text over (an answer that is not JSON, such as a file); the document is left empty.
    std::string takeText() noexcept;

    // The root value. The text is parsed on the first call and the parse kept
    // until the document goes; text that is not JSON throws the same DecodeError
    // (dataCorrupted) on every call. Not for concurrent use: one thread reads a
    // document at a time.
    Node root() const;

private:
    struct Parse;

    std::string text_;
    mutable std::unique_ptr<Parse> parse_;
};

}  // namespace brisalune::json
