#pragma once
// Reading the digest manifest: one JSON object mapping file names to expected digests.
#include <map>
#include <string>
#include <string_view>

#include "common/result.h"

namespace quorle::setup {

// File name to expected digest, ordered by name in ascending byte order.
using DigestManifest = std::map<std::string, std::string>;

// Parses `text` as exactly one JSON object whose member values are all strings (white space
// may follow it, nothing else). A name given twice keeps its last value. On failure the
// message is the JSON reader's own description of the error, any invalid UTF-8 it quotes
// replaced by U+FFFD.
[[nodiscard]] Result<DigestManifest> read_manifest(std::string_view text);

}  // namespace quorle::setup
