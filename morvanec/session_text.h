// The fixed lines of a session file as CXmlWriter writes them for a session
// (OpenFile, OpenBareElement("Root"), ..., CloseElement): the record
// elements sit between the header and the end line.
#pragma once

#include <string_view>

namespace morvane {

constexpr std::string_view kSessionHeader = "<?xml version=\"1.0\"?>\n<Root>\n";
constexpr std::string_view kSessionEnd = "</Root>\n";
// The end tag of every record element a session file holds.
constexpr std::string_view kRecordEndTag = "</Schema>";

}  // namespace morvane
