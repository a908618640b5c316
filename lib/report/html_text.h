// SPDX-License-Identifier: BSD-2-Clause
// Text put into HTML and SVG: element content and attribute values escaped, so that a name
// from a capture or a file (quotes, angle brackets, ampersands) shows as written.
#pragma once

#include <string>
#include <string_view>

namespace g729report {

// & < > " ' as character references; everything else as it is.
std::string escape_html(std::string_view text);

}  // namespace g729report
