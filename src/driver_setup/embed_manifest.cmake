# Script mode: writes a C++ source whose embedded_manifest() returns the bytes of INPUT
# exactly (no line-end or encoding change).
#   cmake -DINPUT=<file> -DOUTPUT=<source.cpp> -P embed_manifest.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f], ){12})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated at build time from ${INPUT}; do not edit.
#include <cstddef>

#include \"driver_setup/embedded_manifest.h\"

namespace quorle::setup {
namespace {

// The file's bytes, then one spare zero so that an empty file still gives a valid array.
constexpr unsigned char kBytes[] = {
    ${bytes}0x00};
constexpr std::size_t kSize = ${size};

}  // namespace

std::string_view embedded_manifest() {
    return std::string_view(reinterpret_cast<const char*>(kBytes), kSize);
}

}  // namespace quorle::setup
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
