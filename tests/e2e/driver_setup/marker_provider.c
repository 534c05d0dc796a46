/* A digest library provider module that only leaves a marker file when it is loaded: the
 * path comes from QUORLE_TEST_PROVIDER_MARKER. A configuration file that names this module
 * shows whether a program lets such a file load code into it. */
#include <stdio.h>
#include <stdlib.h>

#include <openssl/core.h>

static void leave_marker(void) {
    const char* path = getenv("QUORLE_TEST_PROVIDER_MARKER");
    if (path == NULL) return;
    FILE* marker = fopen(path, "a");
    if (marker == NULL) return;
    fputs("loaded\n", marker);
    fclose(marker);
}

/* At load time, so that even a module that is loaded but never initialised is seen. */
__attribute__((constructor)) static void on_load(void) {
    leave_marker();
}

static const OSSL_DISPATCH no_functions[] = {{0, NULL}};

int OSSL_provider_init(const OSSL_CORE_HANDLE* handle, const OSSL_DISPATCH* in,
                       const OSSL_DISPATCH** out, void** provider_context) {
    (void)handle;
    (void)in;
    leave_marker();
    *out = no_functions;
    *provider_context = NULL;
    return 1;
}
