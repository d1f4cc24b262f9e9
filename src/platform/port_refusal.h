// Why the card's I/O ports were refused, in words, for the command line's
// error message.
#pragma once

#include <string>

namespace q7t::os {

// Looked up after a refusal: whether the process holds the raw I/O
// capability decides between the two likely causes.
std::string PortRefusalReason();

}  // namespace q7t::os
