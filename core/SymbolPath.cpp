#include "vemo/core/SymbolPath.h"

#include <charconv>
#include <system_error>

namespace vemo {

namespace {

// ASCII-only folding: the search must not depend on the process locale,
// and a byte of a multi-byte character must never match a letter.
char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// A name with quotes in it, read part by part: each part quoted or plain,
// followed by index groups, parts separated by '.'.
class QuotedNameReader {
public:
    explicit QuotedNameReader(std::string_view text) : text_(text) {}

    SymbolName read() {
        for (;;) {
            const bool first = pos_ == 0;
            if (!part()) return out_;
            if (first) out_.block = out_.name;
            while (pos_ < text_.size() && text_[pos_] == '[') {
                if (!indexGroup()) return out_;
            }
            if (pos_ == text_.size()) return out_;
            if (text_[pos_] != '.') {
                fail("unexpected '" + std::string(1, text_[pos_]) + "'" + at(pos_) + ": a '.' or '[' must come next");
                return out_;
            }
            out_.name.push_back(text_[pos_++]);
        }
    }

private:
    // One quoted or plain part, appended to the name.
    bool part() {
        if (pos_ < text_.size() && text_[pos_] == '"') {
            const std::size_t open = pos_++;
            std::string part;
            for (;;) {
                if (pos_ == text_.size()) return fail("the quote" + at(open) + " is not closed");
                const char c = text_[pos_++];
                if (c == '"') {
                    if (pos_ == text_.size() || text_[pos_] != '"') break;
                    ++pos_;  // "" inside quotes: one quote
                }
                part.push_back(c);
            }
            if (part.empty()) return fail("empty quotes" + at(open));
            out_.name += part;
            return true;
        }
        const std::size_t start = pos_;
        for (; pos_ < text_.size() && text_[pos_] != '.' && text_[pos_] != '['; ++pos_) {
            if (text_[pos_] == '"')
                return fail("a quote" + at(pos_) + " inside an unquoted part: quote the whole part");
            if (text_[pos_] == ']') return fail("a ']'" + at(pos_) + " without its '['");
        }
        if (pos_ == start) {
            if (start > 0 && start == text_.size()) return fail("nothing after the '.'" + at(start - 1));
            return fail("a name part is missing" + at(start));
        }
        out_.name.append(text_.substr(start, pos_ - start));
        return true;
    }

    // "[2, 1]" at pos_, appended as the browse writes it: "[2,1]".
    bool indexGroup() {
        const std::size_t open = pos_;
        const std::size_t close = text_.find(']', open);
        if (close == std::string_view::npos) return fail("the '['" + at(open) + " is not closed");
        std::string group = "[";
        for (std::size_t from = open + 1;;) {
            const std::size_t comma = std::min(text_.find(',', from), close);
            std::size_t begin = from;
            std::size_t end = comma;
            while (begin < end && text_[begin] == ' ') ++begin;
            while (end > begin && text_[end - 1] == ' ') --end;
            if (begin == end) return fail("an empty index" + at(from));
            long long index = 0;
            const auto [stop, failed] = std::from_chars(text_.data() + begin, text_.data() + end, index);
            if (failed != std::errc{} || stop != text_.data() + end) {
                return fail("the index '" + std::string(text_.substr(begin, end - begin)) + "'" + at(begin) +
                            " is not a whole number");
            }
            if (group.size() > 1) group.push_back(',');
            group += std::to_string(index);
            if (comma == close) break;
            from = comma + 1;
        }
        out_.name += group + "]";
        pos_ = close + 1;
        return true;
    }

    bool fail(std::string message) {
        out_ = SymbolName{{}, {}, std::move(message)};
        return false;
    }

    // " at character N", counting from 1 and counting a character of
    // several UTF-8 bytes once.
    std::string at(std::size_t offset) const {
        std::size_t n = 1;
        for (std::size_t i = 0; i < offset; ++i) {
            if ((static_cast<unsigned char>(text_[i]) & 0xC0) != 0x80) ++n;
        }
        return " at character " + std::to_string(n);
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    SymbolName out_;
};

}  // namespace

SymbolName parseSymbolName(std::string_view text) {
    if (text.find('"') == std::string_view::npos) {
        const std::vector<std::string> parts = splitSymbolPath(text);
        return {std::string(text), parts.empty() ? std::string() : parts.front(), {}};
    }
    return QuotedNameReader(text).read();
}

std::vector<std::string> splitSymbolPath(std::string_view text) {
    std::vector<std::string> parts;
    forEachSymbolPathComponent(text, [&](std::string_view part) { parts.emplace_back(part); });
    return parts;
}

bool containsIgnoreCase(std::string_view haystack, std::string_view needle) {
    if (needle.empty()) {
        return true;
    }
    if (needle.size() > haystack.size()) {
        return false;
    }
    for (size_t start = 0; start + needle.size() <= haystack.size(); ++start) {
        size_t k = 0;
        while (k < needle.size() && foldAscii(haystack[start + k]) == foldAscii(needle[k])) {
            ++k;
        }
        if (k == needle.size()) {
            return true;
        }
    }
    return false;
}

}  // namespace vemo
