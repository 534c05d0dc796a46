/* The control run of the digest library configuration test: a program that computes a
 * SHA-256 digest with the same digest library as the driver setup program, left to its
 * defaults, so that the library reads the configuration named by OPENSSL_CONF and loads the
 * provider modules it names.
 *
 *     config_control              one digest; exit status 0 when it was computed
 *     config_control MODULE       loads MODULE as a provider by its path instead; exit status
 *                                 0 when the library could load it (a build without module
 *                                 support cannot load any) */
#include <openssl/evp.h>
#include <openssl/provider.h>

int main(int argc, char** argv) {
    if (argc == 2) {
        OSSL_PROVIDER* provider = OSSL_PROVIDER_load(NULL, argv[1]);
        if (provider == NULL) return 1;
        OSSL_PROVIDER_unload(provider);
        return 0;
    }
    static const unsigned char data[] = "control";
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    return EVP_Digest(data, sizeof data - 1, digest, &size, EVP_sha256(), NULL) == 1 ? 0 : 1;
}
