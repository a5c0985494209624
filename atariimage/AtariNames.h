// 8.3 names in the characters TOS accepts, for the builder.
#pragma once

#include <string>

namespace atari {

// A name part in the characters TOS accepts: upper case; blanks and dots
// dropped; any other character, a multi-byte one included, becomes '_'.
std::string tosPart(const std::string& part);
// True when the name is already 8.3 in TOS characters, case aside.
bool fitsEightThree(const std::string& name);

}  // namespace atari
