/* Loads the marker provider module the way the digest library loads a provider named by a
 * configuration file (LoadLibrary, then the exported OSSL_provider_init) and checks the
 * marker it leaves at each step:
 *   with QUORLE_TEST_PROVIDER_MARKER set     "loaded\n" once loaded, twice once initialised
 *   without it                               no marker at all
 * One line per failed check on standard error; exit status 1 when any check fails.
 *
 *     marker_provider_loader MODULE.dll */
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <openssl/core.h>
#include <windows.h>

typedef int (*provider_init)(const OSSL_CORE_HANDLE*, const OSSL_DISPATCH*, const OSSL_DISPATCH**,
                             void**);

static int failures = 0;

static void fail(const char* step, const char* what) {
    fprintf(stderr, "marker provider, %s: %s\n", step, what);
    ++failures;
}

/* The marker's whole content, or "" when there is no marker file. */
static const char* marker_text(const wchar_t* path) {
    static char text[64];
    text[0] = '\0';
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return text;
    DWORD read = 0;
    if (!ReadFile(file, text, sizeof text - 1, &read, NULL)) read = 0;
    text[read] = '\0';
    CloseHandle(file);
    return text;
}

static void expect_marker(const wchar_t* path, const char* step, const char* expected) {
    const char* found = marker_text(path);
    if (strcmp(found, expected) != 0) {
        char what[160];
        snprintf(what, sizeof what, "marker holds %lu bytes, expected %lu",
                 (unsigned long)strlen(found), (unsigned long)strlen(expected));
        fail(step, what);
    }
}

/* One load, initialisation and unload of the module; `with_marker` sets or clears the
 * variable first. */
static void load_once(const wchar_t* module, const wchar_t* marker, int with_marker) {
    DeleteFileW(marker);
    SetEnvironmentVariableW(L"QUORLE_TEST_PROVIDER_MARKER", with_marker ? marker : NULL);
    const char* step = with_marker ? "with the variable" : "without the variable";
    const HMODULE library = LoadLibraryW(module);
    if (library == NULL) {
        char what[64];
        snprintf(what, sizeof what, "LoadLibrary failed with Windows error %lu",
                 (unsigned long)GetLastError());
        fail(step, what);
        return;
    }
    expect_marker(marker, step, with_marker ? "loaded\n" : "");
    const provider_init init =
        (provider_init)(void (*)(void))GetProcAddress(library, "OSSL_provider_init");
    if (init == NULL) {
        fail(step, "OSSL_provider_init is not exported");
    } else {
        const OSSL_DISPATCH* out = NULL;
        void* context = &failures;
        if (init(NULL, NULL, &out, &context) != 1)
            fail(step, "OSSL_provider_init did not return 1");
        if (out == NULL || out[0].function_id != 0) fail(step, "dispatch table is not empty");
        if (context != NULL) fail(step, "provider context is not NULL");
        expect_marker(marker, step, with_marker ? "loaded\nloaded\n" : "");
    }
    FreeLibrary(library);
    DeleteFileW(marker);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fputs("usage: marker_provider_loader MODULE.dll\n", stderr);
        return 2;
    }
    wchar_t module[MAX_PATH];
    if (MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, module, MAX_PATH) == 0) {
        fputs("marker provider: module path too long\n", stderr);
        return 2;
    }
    for (wchar_t* c = module; *c != L'\0'; ++c) {
        if (*c == L'/') *c = L'\\';
    }
    wchar_t marker[MAX_PATH];
    const DWORD folder = GetTempPathW(MAX_PATH - 40, marker);
    if (folder == 0 || folder >= MAX_PATH - 40) {
        fputs("marker provider: no temporary folder\n", stderr);
        return 2;
    }
    swprintf(marker + folder, 40, L"quorle-marker-%lu.txt", (unsigned long)GetCurrentProcessId());

    load_once(module, marker, 1);
    load_once(module, marker, 0);
    if (failures == 0)
        fputs("marker provider: loaded, initialised and silent without the variable\n", stdout);
    return failures == 0 ? 0 : 1;
}
