// translator_launcher: plays the translator for whole-binary tests on Windows (and under
// Wine, where Windows parent/child relations exist only between Windows processes).
//
//   translator_launcher [options] -- PROGRAM [ARGS...]
//
// Starts PROGRAM as its child with the given arguments; every argument that is exactly
// "{PID}" is replaced by the launcher's own process id, so the child can name its parent.
// The child writes straight to the launcher's own standard output and standard error
// (inherited handles), unless an option below puts a pipe in between.
//
// Options:
//   --status-file FILE      write the child's real exit status (decimal, "3010" stays 3010)
//                           to FILE when it ends; "timeout" when --timeout-ms ended it
//   --timeout-ms N          terminate the child after N ms (a safety net for tests)
//   --exit-after-ms N       the launcher itself exits after N ms (status 0), leaving the
//                           child running: the translator going away
//   --close-stdout-after-ms N
//                           give the child a pipe as standard output; forward what it
//                           writes, then close the reading end after N ms: a reader that
//                           stops reading
//   --no-stderr             the child gets no standard error handle
//   --pid-file FILE         write the child's process id to FILE once it is started
// The launcher's own exit status is the child's (as far as the caller can see it).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::wstring quote_argument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
        } else if (c == L'"') {
            out.append(backslashes * 2 + 1, L'\\');
            out.push_back(L'"');
            backslashes = 0;
        } else {
            out.append(backslashes, L'\\');
            out.push_back(c);
            backslashes = 0;
        }
    }
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

void write_text_file(const std::wstring& path, const std::string& text) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

HANDLE inheritable_copy(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return copy;
}

struct Forwarder {
    HANDLE read_end = nullptr;
    HANDLE target = nullptr;
};

DWORD WINAPI forward_pipe(void* param) {
    auto* forwarder = static_cast<Forwarder*>(param);
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(forwarder->read_end, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
        DWORD written = 0;
        WriteFile(forwarder->target, buffer, got, &written, nullptr);
    }
    return 0;
}

int usage() {
    std::fputs("usage: translator_launcher [options] -- PROGRAM [ARGS...]\n", stderr);
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring status_file;
    std::wstring pid_file;
    DWORD timeout_ms = INFINITE;
    DWORD exit_after_ms = INFINITE;
    DWORD close_stdout_after_ms = INFINITE;
    bool no_stderr = false;
    int i = 1;
    for (; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const auto value = [&]() -> std::wstring { return i + 1 < argc ? argv[++i] : L""; };
        if (arg == L"--") {
            ++i;
            break;
        } else if (arg == L"--status-file") {
            status_file = value();
        } else if (arg == L"--pid-file") {
            pid_file = value();
        } else if (arg == L"--timeout-ms") {
            timeout_ms = static_cast<DWORD>(std::wcstoul(value().c_str(), nullptr, 10));
        } else if (arg == L"--exit-after-ms") {
            exit_after_ms = static_cast<DWORD>(std::wcstoul(value().c_str(), nullptr, 10));
        } else if (arg == L"--close-stdout-after-ms") {
            close_stdout_after_ms = static_cast<DWORD>(std::wcstoul(value().c_str(), nullptr, 10));
        } else if (arg == L"--no-stderr") {
            no_stderr = true;
        } else {
            return usage();
        }
    }
    if (i >= argc) return usage();

    const std::wstring own_pid = std::to_wstring(GetCurrentProcessId());
    std::wstring command_line;
    for (int k = i; k < argc; ++k) {
        std::wstring arg = argv[k];
        if (arg == L"{PID}") arg = own_pid;
        if (!command_line.empty()) command_line.push_back(L' ');
        command_line += quote_argument(arg);
    }

    HANDLE child_stdout = inheritable_copy(GetStdHandle(STD_OUTPUT_HANDLE));
    HANDLE child_stderr = no_stderr ? nullptr : inheritable_copy(GetStdHandle(STD_ERROR_HANDLE));
    HANDLE child_stdin = inheritable_copy(GetStdHandle(STD_INPUT_HANDLE));
    Forwarder forwarder;
    HANDLE forward_thread = nullptr;
    if (close_stdout_after_ms != INFINITE) {
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE read_end = nullptr;
        HANDLE write_end = nullptr;
        if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return 3;
        SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
        if (child_stdout != nullptr) CloseHandle(child_stdout);
        child_stdout = write_end;
        forwarder.read_end = read_end;
        forwarder.target = GetStdHandle(STD_OUTPUT_HANDLE);
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = child_stdin;
    startup.hStdOutput = child_stdout;
    startup.hStdError = child_stderr;
    PROCESS_INFORMATION process{};
    std::vector<wchar_t> mutable_line(command_line.begin(), command_line.end());
    mutable_line.push_back(L'\0');
    if (!CreateProcessW(nullptr, mutable_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fprintf(stderr, "translator_launcher: cannot start child (error %lu)\n",
                     GetLastError());
        return 3;
    }
    // The child holds its own copies now; keeping ours would keep a pipe open forever.
    for (HANDLE h : {child_stdout, child_stderr, child_stdin}) {
        if (h != nullptr) CloseHandle(h);
    }
    if (!pid_file.empty()) write_text_file(pid_file, std::to_string(process.dwProcessId));
    if (forwarder.read_end != nullptr) {
        forward_thread = CreateThread(nullptr, 0, forward_pipe, &forwarder, 0, nullptr);
    }

    const ULONGLONG started = GetTickCount64();
    const auto elapsed = [&]() { return static_cast<DWORD>(GetTickCount64() - started); };
    bool timed_out = false;
    bool closed_stdout = false;
    for (;;) {
        DWORD wait = 20;
        if (WaitForSingleObject(process.hProcess, wait) == WAIT_OBJECT_0) break;
        if (!closed_stdout && close_stdout_after_ms != INFINITE &&
            elapsed() >= close_stdout_after_ms) {
            // Stop reading: closing the only reading end breaks the child's pipe.
            CancelSynchronousIo(forward_thread);
            CloseHandle(forwarder.read_end);
            closed_stdout = true;
        }
        if (exit_after_ms != INFINITE && elapsed() >= exit_after_ms) {
            ExitProcess(0);
        }
        if (timeout_ms != INFINITE && elapsed() >= timeout_ms) {
            TerminateProcess(process.hProcess, 259);
            WaitForSingleObject(process.hProcess, INFINITE);
            timed_out = true;
            break;
        }
    }
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    if (forward_thread != nullptr && !closed_stdout) {
        WaitForSingleObject(forward_thread, 5000);
    }
    if (!status_file.empty()) {
        write_text_file(status_file, timed_out ? std::string("timeout") : std::to_string(code));
    }
    return timed_out ? 124 : static_cast<int>(code);
}
