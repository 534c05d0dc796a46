/* A stand-in for a system DLL (avrt, propsys, winmm, ksuser, cfgmgr32) that a test plants
 * beside the program under the system DLL's name. Loading it leaves a marker file next to
 * it (its own path with ".loaded" added), so the test sees whether the program picked it up
 * instead of the system's own. It exports the one function the entry probe calls from each of
 * those DLLs, so that a program importing them at load time starts with it in place. */
#define WIN32_LEAN_AND_MEAN  // keeps out the headers that declare these functions as imports
#include <windows.h>

static void leave_marker(HINSTANCE self) {
    WCHAR path[MAX_PATH + 8];
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    lstrcatW(path, L".loaded");
    const HANDLE marker =
        CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) leave_marker(self);
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI AvQuerySystemResponsiveness(HANDLE context, PULONG value) {
    (void)context;
    (void)value;
    return FALSE;
}

__declspec(dllexport) HRESULT WINAPI PropVariantToUInt32(const void* value, ULONG* out) {
    (void)value;
    (void)out;
    return E_FAIL;
}

__declspec(dllexport) DWORD WINAPI timeGetTime(void) {
    return 0;
}

__declspec(dllexport) DWORD WINAPI
    KsCreatePin(HANDLE filter, void* connect, ACCESS_MASK access, PHANDLE pin) {
    (void)filter;
    (void)connect;
    (void)access;
    (void)pin;
    return ERROR_INVALID_FUNCTION;
}

__declspec(dllexport) DWORD WINAPI
    CM_Get_Device_ID_List_SizeW(PULONG length, PCWSTR filter, ULONG flags) {
    (void)filter;
    (void)flags;
    if (length != NULL) *length = 0;
    return 0;
}
