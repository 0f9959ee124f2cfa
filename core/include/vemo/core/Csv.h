// Delimited text as spreadsheets read it (RFC 4180): the command-line tool's
// CSV output, the inspector's export and the rows it puts on the clipboard.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vemo {

// One field: quoted when it holds the separator, a quote, CR or LF (or
// starts or ends with a space, which some readers would drop), with quotes
// doubled. With a tab as the separator the same rule gives what spreadsheets
// take from the clipboard.
std::string csvField(std::string_view field, char separator = ',');
// The fields, each as csvField has it, joined by the separator.
std::string csvJoin(const std::vector<std::string>& fields, char separator = ',');
// csvJoin ended with CR LF, as RFC 4180 ends its lines.
std::string csvLine(const std::vector<std::string>& fields, char separator = ',');

}  // namespace vemo
