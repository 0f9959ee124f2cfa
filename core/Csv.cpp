#include "vemo/core/Csv.h"

namespace vemo {

std::string csvField(std::string_view field, char separator) {
    const char special[] = {separator, '"', '\r', '\n'};
    const bool quote = field.find_first_of(std::string_view(special, sizeof special)) != std::string_view::npos ||
                       (!field.empty() && (field.front() == ' ' || field.back() == ' '));
    if (!quote) return std::string(field);
    std::string out = "\"";
    for (const char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string csvJoin(const std::vector<std::string>& fields, char separator) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i != 0) line += separator;
        line += csvField(fields[i], separator);
    }
    return line;
}

std::string csvLine(const std::vector<std::string>& fields, char separator) {
    return csvJoin(fields, separator) + "\r\n";
}

}  // namespace vemo
