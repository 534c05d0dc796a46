// A small Windows program for the application list tests under Wine: it shows one window,
// prints "ready <its own process id>" and exits when its standard input closes (or after two
// minutes). Wine's process ids are its own, so the program must report its id itself.
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

std::atomic<bool> input_closed{false};

void write_out(const std::string& text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
}

}  // namespace

int main() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = instance;
    window_class.lpszClassName = L"QuorleListTestWindow";
    if (RegisterClassW(&window_class) == 0) return 1;
    const HWND window =
        CreateWindowExW(0, window_class.lpszClassName, L"quorle list test", WS_OVERLAPPEDWINDOW, 10,
                        10, 200, 100, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 1;
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);

    std::thread reader([] {
        char buffer[64];
        DWORD read = 0;
        while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &read, nullptr) &&
               read > 0) {
        }
        input_closed.store(true, std::memory_order_release);
    });
    write_out("ready " + std::to_string(GetCurrentProcessId()) + "\n");

    const ULONGLONG deadline = GetTickCount64() + 120'000;
    while (!input_closed.load(std::memory_order_acquire) && GetTickCount64() < deadline) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    DestroyWindow(window);
    if (input_closed.load(std::memory_order_acquire)) {
        reader.join();
    } else {
        reader.detach();  // still blocked on standard input; the process ends anyway
    }
    return 0;
}
