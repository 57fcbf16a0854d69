#include <brisalune/platform/json_decode.hpp>
#include <brisalune/platform/json_document.hpp>

#include <optional>
#include <utility>

namespace brisalune::json {

// The outcome of the one parse: a parser holding the tree, or why the text is
// not JSON.
struct Document::Parse {
    std::optional<detail::ParserLease> lease;
    simdjson::dom::element root;
    std::optional<DecodeError> failure;
};

Document::Document() noexcept = default;
Document::Document(std::string text) noexcept : text_(std::move(text)) {}
Document::~Document() = default;
Document::Document(Document&& other) noexcept = default;
Document& Document::operator=(Document&& other) noexcept = default;
Document::Document(const Document& other) : text_(other.text_) {}

Document& Document::operator=(const Document& other) {
    if (this != &other) {
        text_ = other.text_;
        parse_.reset();
    }
    return *this;
}

std::string Document::takeText() noexcept {
    parse_.reset();
    return std::move(text_);
}

Node Document::root() const {
    if (!parse_) {
        auto parse = std::make_unique<Parse>();
        parse->lease.emplace();
        try {
            parse->root = parse->lease->parse(text_, text_.capacity());
        } catch (const DecodeError& error) {
            parse->lease.reset();  // nothing to keep: give the parser back at once
            parse->failure = error;
        }
        parse_ = std::move(parse);
    }
    if (parse_->failure) throw *parse_->failure;
    return Node(parse_->root);
}

}  // namespace brisalune::json
