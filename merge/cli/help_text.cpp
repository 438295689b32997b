#include "cli/help_text.hpp"

#include <string>

#include "cli/command_line.hpp"

namespace quillet {

void print_help(std::FILE* out) {
    std::fputs(
        "Usage: Quillet -o OUTPUT [OPTION]... INPUT...\n"
        "       Quillet [OPTION]... <ASCII List> <LAS Output>\n"
        "\n"
        "Merges LAS and LAZ point-cloud files into OUTPUT, written as LAS when it is named *.las\n"
        "and as LAZ when it is named *.laz. An INPUT is a LAS or LAZ file, a directory (its\n"
        "*.las and *.laz files, in byte order of their names) or a virtual point cloud (*.vpc, as\n"
        "QGIS writes it: the files its features name); --input-list FILE adds the files named in\n"
        "FILE, one per line (- reads standard input; lines starting with # are skipped). One\n"
        "input is enough: a conversion. Options may stand before or after the inputs; -- ends\n"
        "them. The same file named twice is refused. The merge is that of --extended, below.\n"
        "\n"
        "  Quillet -o merged.laz tiles/\n"
        "  Quillet -o merged.las a.laz b.las --threads 2\n"
        "  Quillet -o all.laz project.vpc\n"
        "\n"
        "It prints the plan's lines (what it converts or moves), warnings and one closing line,\n"
        "Merged N points from M files into OUTPUT in S s; on a terminal, a progress bar on\n"
        "standard error. --json prints one JSON report instead (the manual page lists its keys).\n"
        "\n"
        "The list form merges the LAS files named in <ASCII List> into <LAS Output>.\n"
        "The inputs are LAS 1.0, 1.1 or 1.2 files with point formats 0 to 3, all of one version\n"
        "and format, with the same scale factors, offsets and record length. The merged header\n"
        "sums their point counts and encloses their bounding boxes; their point records follow\n"
        "it, byte for byte, in list order. Nothing is written until every check has passed, the\n"
        "output is renamed into place only when complete, and after a failure nothing is left\n"
        "behind and an existing output is kept as it was.\n"
        "\n"
        "With --extended, the inputs may also be LAS 1.3 and 1.4 files, point formats 6 to 8,\n"
        "records with extra bytes, and LAZ files, LAS and LAZ mixed. The output is written as\n"
        "LAS when it is named *.las and as LAZ when it is named *.laz: LAZ chunks go into a\n"
        "LAZ output as they are, without decompressing them, behind one new chunk table; LAZ\n"
        "inputs are decoded into a LAS output and LAS inputs encoded into a LAZ output, on\n"
        "every core. Inputs may differ in version, point format and extra bytes: the output\n"
        "takes the least format that holds every input's fields (formats 1 and 2 give 3; any of\n"
        "6 to 8 gives 6, 7 or 8), the highest version (1.4 for formats 6 to 8 or more than\n"
        "4,294,967,295 points) and the union of the extra bytes fields by name; inputs already\n"
        "in that shape are copied, the others converted (LAS rewritten, LAZ re-encoded). Inputs\n"
        "with GPS time share its type; extra bytes that no Extra Bytes record describes merge\n"
        "only with inputs of the same format and record length. LAZ inputs whose chunks are\n"
        "copied share their LASzip items. Inputs on different grids merge without moving a\n"
        "point: the output takes the finest scale factor (divided by the least of 2, 4, 5, 8,\n"
        "10, ... up to 1000 that holds every input, when one must be) and the first file's\n"
        "offset, and each input's raw value r becomes r * k + d exactly (LAS rewritten, LAZ\n"
        "shifted chunk by chunk without decoding, or re-encoded); an input that cannot go onto\n"
        "such a grid unmoved is refused, saying by how much it would move, unless --rescale.\n"
        "The merged file keeps the first file's header (at the output's version), its VLRs\n"
        "and its EVLRs (those of cloud optimised LAZ left out), and in LAS 1.4 states the 64-bit\n"
        "counts; a coordinate system that differs from the first file's gets a warning\n"
        "(GeoTIFF keys and WKT compared as systems, with PROJ). An output of format 6 to 8\n"
        "states a first file's GeoTIFF keys as WKT: an input's WKT of that system, or PROJ's.\n"
        "\n"
        "The list is plain text: the names of the input files, separated by blanks, tabs or\n"
        "line ends. A list named - is read from standard input.\n"
        "\n"
        "Options:\n",
        out);
    for (const Option& o : known_options()) {
        std::string names = o.short_name.empty() ? "    " : std::string(o.short_name) + ", ";
        names += o.long_name;
        if (!o.value.empty()) {
            names += ' ';
            names += o.value;
        }
        std::fprintf(out, "  %-22s %.*s\n", names.c_str(), static_cast<int>(o.help.size()),
                     o.help.data());
    }
    std::fputs(
        "  --                     end the options: the names after it may begin with -\n"
        "\n"
        "Exit status:\n"
        "  0    the merge is complete, or the help or the version was printed\n"
        "  255  the merge was refused or failed; the message on standard output says why\n",
        out);
}

void print_version(std::FILE* out) {
    std::fputs("Quillet " QUILLET_VERSION "\n", out);
}

}  // namespace quillet
