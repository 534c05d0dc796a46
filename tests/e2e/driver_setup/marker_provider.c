/* A digest library provider module that only leaves a marker file when it is loaded: the
 * path comes from QUORLE_TEST_PROVIDER_MARKER. A configuration file that names this module
 * shows whether a program lets such a file load code into it.
 *
 * The marker is left twice over: when the module is loaded (so that even a module that is
 * loaded but never initialised is seen) and when the library initialises it. Windows has no
 * load-time constructors: there DllMain leaves it on DLL_PROCESS_ATTACH, through kernel32
 * only (the loader lock is held, and the C runtime's copy of the environment may predate a
 * variable the loading program set), and marker_provider.def exports the entry point from
 * the DLL. */
#include <openssl/core.h>

#ifdef _WIN32
#include <windows.h>

static void leave_marker(void) {
    wchar_t path[4096];
    const DWORD length =
        GetEnvironmentVariableW(L"QUORLE_TEST_PROVIDER_MARKER", path, sizeof path / sizeof *path);
    if (length == 0 || length >= sizeof path / sizeof *path) return;
    const HANDLE marker = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (marker == INVALID_HANDLE_VALUE) return;
    static const char line[] = "loaded\n";
    DWORD written = 0;
    WriteFile(marker, line, (DWORD)(sizeof line - 1), &written, NULL);
    CloseHandle(marker);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) leave_marker();
    return TRUE;
}

#else
#include <stdio.h>
#include <stdlib.h>

static void leave_marker(void) {
    const char* path = getenv("QUORLE_TEST_PROVIDER_MARKER");
    if (path == NULL) return;
    FILE* marker = fopen(path, "a");
    if (marker == NULL) return;
    fputs("loaded\n", marker);
    fclose(marker);
}

__attribute__((constructor)) static void on_load(void) {
    leave_marker();
}
#endif

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
