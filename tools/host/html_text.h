// Text placed into HTML or SVG markup.
#pragma once

#include <string>

namespace host {

// `text` with the characters that markup gives a meaning (& < > " ') as character references,
// so that a camera- or driver-supplied string can never open an element or leave an attribute.
std::string HtmlEscape(const std::string& text);

}  // namespace host
