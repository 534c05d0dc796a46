#include <windows.h>

#include "common/named_thread.h"
#include "common/text.h"

namespace quorle {

std::string effective_thread_name(const std::string& name) {
    return name;
}

void set_current_thread_name(const std::string& name) {
    // SetThreadDescription exists from Windows 10 1607 on; look it up so that older
    // systems (and Wine builds without it) simply keep an unnamed thread.
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return;
    const auto set = reinterpret_cast<SetDescription>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadDescription")));
    if (set == nullptr) return;
    const std::u16string wide = utf8_to_utf16z(name);
    (void)set(GetCurrentThread(), reinterpret_cast<PCWSTR>(wide.c_str()));
}

}  // namespace quorle
