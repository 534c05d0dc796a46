#include "driver_setup/sha256_digest.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace quorle::setup {

std::string lower_hex(std::span<const unsigned char> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const unsigned char byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

bool prepare_digest_library() {
    // Once per process: the first call settles how the library starts, and a later call
    // could not undo a configuration already read.
    static const bool prepared = OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) == 1;
    return prepared;
}

std::optional<std::string> sha256_hex(std::string_view content) {
    if (!prepare_digest_library()) return std::nullopt;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(content.data(), content.size(), digest, &size, EVP_sha256(), nullptr) != 1) {
        return std::nullopt;
    }
    return lower_hex(std::span<const unsigned char>(digest, size));
}

}  // namespace quorle::setup
