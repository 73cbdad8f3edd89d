// Host names as DNS spells them, for anything a page may hand the control as
// a site: the pop-up allow list and the page addresses of the site lock.
#pragma once

#include <string>

namespace trv {

constexpr std::size_t kHostNameMax = 253;
constexpr std::size_t kHostLabelMax = 63;

// ASCII letters, digits, '-' and '.', in labels of 1 to 63 characters that do
// not start or end with '-', at most 253 in all. An internationalised name
// passes only in its ASCII ("xn--") form.
bool IsHostName(const std::string& text);

}  // namespace trv
