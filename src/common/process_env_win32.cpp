#include <windows.h>

#include <shellapi.h>

#include <cstdlib>

#include "common/process_env.h"
#include "common/text.h"

namespace quorle {
namespace {

struct ArgvOwner {
    LPWSTR* argv = nullptr;
    int count = 0;
    ArgvOwner() { argv = CommandLineToArgvW(GetCommandLineW(), &count); }
    ~ArgvOwner() {
        if (argv != nullptr) LocalFree(reinterpret_cast<HLOCAL>(argv));
    }
    ArgvOwner(const ArgvOwner&) = delete;
    ArgvOwner& operator=(const ArgvOwner&) = delete;
};

}  // namespace

std::vector<std::string> command_line_arguments(int, char**) {
    const ArgvOwner owner;
    std::vector<std::string> arguments;
    for (int i = 1; owner.argv != nullptr && i < owner.count; ++i) {
        const wchar_t* arg = owner.argv[i];
        arguments.push_back(utf16_to_utf8(std::u16string_view(
            reinterpret_cast<const char16_t*>(arg), static_cast<std::size_t>(lstrlenW(arg)))));
    }
    return arguments;
}

std::size_t command_line_argument_count(int, char**) {
    const ArgvOwner owner;
    return owner.argv == nullptr ? 0 : static_cast<std::size_t>(owner.count);
}

bool environment_variable_present(const char* name) {
    const std::u16string wide = utf8_to_utf16z(name);
    SetLastError(ERROR_SUCCESS);
    const DWORD length =
        GetEnvironmentVariableW(reinterpret_cast<LPCWSTR>(wide.c_str()), nullptr, 0);
    // An existing empty variable reports length 1 (room for the NUL); a missing one reports
    // 0 with ERROR_ENVVAR_NOT_FOUND.
    return length != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
}

void end_process_now(int status) {
    (void)TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    // Should the call return, this ends the process without static destructors as well.
    std::_Exit(status);
}

}  // namespace quorle
