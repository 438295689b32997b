#include "credits.hpp"

#include <Korvane_LiDAR.h>

#include <cstdio>

namespace korvane {

void credits(std::FILE* out) {
    std::fputs("\nKorvane LiDAR Utilities", out);
    std::fputs("\n\nDeveloped and maintained by the Korvane LiDAR Utilities maintainers", out);
    std::fputs("\nthe Korvane LiDAR Utilities project", out);
    std::fputs("\nreached through the project's source repository and issue tracker", out);
    std::fputs("\n\n** No warranty regarding script behavior is given or implied **", out);
    std::fputs(
        "\n** Acknowledging the author's efforts ensures script updates and availability **\n",
        out);
}

}  // namespace korvane

extern "C" void credits(void) {
    korvane::credits(stdout);
}
