// The library's banner.
#pragma once

#include <cstdio>

namespace korvane {

void credits(std::FILE* out);

}  // namespace korvane
