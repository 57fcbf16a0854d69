#include <brisalune/platform/http.hpp>

#include <algorithm>

namespace brisalune::http {

namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool sameFieldName(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

Headers::Headers(std::initializer_list<Field> fields) {
    for (const auto& [name, value] : fields) {
        add(name, value);
    }
}

void Headers::set(std::string name, std::string value) {
    const auto matches = [&](const Field& f) { return sameFieldName(f.first, name); };
    const auto first = std::ranges::find_if(fields_, matches);
    if (first == fields_.end()) {
        fields_.emplace_back(std::move(name), std::move(value));
        return;
    }
    const auto tail = std::remove_if(std::next(first), fields_.end(), matches);
    fields_.erase(tail, fields_.end());
    *first = {std::move(name), std::move(value)};
}

void Headers::add(std::string name, std::string value) { fields_.emplace_back(std::move(name), std::move(value)); }

void Headers::remove(std::string_view name) {
    std::erase_if(fields_, [&](const Field& f) { return sameFieldName(f.first, name); });
}

std::optional<std::string> Headers::get(std::string_view name) const {
    std::optional<std::string> joined;
    for (const auto& [fieldName, value] : fields_) {
        if (!sameFieldName(fieldName, name)) {
            continue;
        }
        if (joined) {
            joined->append(", ").append(value);
        } else {
            joined = value;
        }
    }
    return joined;
}

bool Headers::contains(std::string_view name) const {
    return std::ranges::any_of(fields_, [&](const Field& f) { return sameFieldName(f.first, name); });
}

Transport::~Transport() = default;

}  // namespace brisalune::http
