// glidewheel.dll: the exports, the two system-wide hooks and the state they
// share. Every decision is the core's; this file only connects it to Win32.
#include <aclapi.h>
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <new>

#include "Library.h"
#include "Win32WindowSystem.h"

using glidewheel::Cursor;
using glidewheel::win32::FromWin;

namespace {

constexpr std::size_t kFolderChars = 130;

// One copy for every process that loads the library.
struct SharedSection {
    HHOOK callRetHook;
    HHOOK getMsgHook;
    wchar_t folder[kFolderChars];
    glidewheel::CursorSlots cursors;
};

// Initialised data, so that the linker keeps it in its own shared section.
SharedSection gShared
    __attribute__((section(".gwshare"), shared)) = {nullptr, nullptr, {L'\0'}, {0, 0}};

// Per process.
HINSTANCE gInstance = nullptr;
HANDLE gMapping = nullptr;
glidewheel::SharedRecord gPrivateRecord{};
glidewheel::win32::Win32WindowSystem gWindows;
glidewheel::ProcessState* gProcess = nullptr;
glidewheel::Library gLib;
UINT gSettingChange = 0;

glidewheel::SharedRecord* MapSharedRecord() {
    gMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                  sizeof(glidewheel::SharedRecord), glidewheel::kSharedRecordName);
    if (!gMapping) return &gPrivateRecord;
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    void* view = MapViewOfFile(gMapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (!view) {
        CloseHandle(gMapping);
        gMapping = nullptr;
        return &gPrivateRecord;
    }
    if (!existed) {
        std::memset(view, 0, sizeof(glidewheel::SharedRecord));
        // A null access-control list: processes of every account may open it.
        SetSecurityInfo(gMapping, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        nullptr, nullptr);
    }
    return static_cast<glidewheel::SharedRecord*>(view);
}

glidewheel::WheelSettings QueryWheelSettings() {
    UINT lines = 0;
    const bool ok = SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
    return glidewheel::ReadWheelSettings(ok, lines);
}

void Attach(HINSTANCE instance) {
    gInstance = instance;
    gProcess = new (std::nothrow) glidewheel::ProcessState;
    gLib.ws = &gWindows;
    gLib.record = MapSharedRecord();
    gLib.cursors = &gShared.cursors;
    gLib.process = gProcess;
    gLib.settings = QueryWheelSettings();
}

void Detach(bool processEnding) {
    // At process exit the other threads are gone, perhaps in the middle of
    // a hook: their memory goes with the process.
    if (processEnding) return;
    gLib.process = nullptr;
    delete gProcess;
    gProcess = nullptr;
    if (gLib.record != &gPrivateRecord) UnmapViewOfFile(gLib.record);
    if (gMapping) CloseHandle(gMapping);
}

LRESULT CALLBACK GetMsgProc(int code, WPARAM wParam, LPARAM lParam) {
    // A message only peeked at comes again when it is taken: handle it once.
    if (code == HC_ACTION && wParam == PM_REMOVE && gLib.process) {
        MSG* m = reinterpret_cast<MSG*>(lParam);
        glidewheel::Message msg{FromWin(m->hwnd), m->message, m->wParam, m->lParam};
        glidewheel::GetMessageHook(gLib, msg);
        if (msg.message != m->message) m->message = msg.message;
    }
    return CallNextHookEx(gShared.getMsgHook, code, wParam, lParam);
}

LRESULT CALLBACK CallWndRetProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && gLib.process) {
        const CWPRETSTRUCT* c = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        glidewheel::CallWndRetHook(gLib, {FromWin(c->hwnd), c->message, c->wParam, c->lParam},
                                   c->lResult);
    }
    return CallNextHookEx(gShared.callRetHook, code, wParam, lParam);
}

HHOOK ClearHook(HHOOK* slot) {
    return static_cast<HHOOK>(InterlockedExchangePointer(reinterpret_cast<PVOID*>(slot), nullptr));
}

BOOL CALLBACK PostNull(HWND w, LPARAM) {
    PostMessageW(w, WM_NULL, 0, 0);
    return TRUE;
}

}  // namespace

extern "C" {

int InstallScrollHooks(const wchar_t* folder) {
    std::wcsncpy(gShared.folder, folder ? folder : L"", kFolderChars - 1);
    gShared.folder[kFolderChars - 1] = L'\0';
    gSettingChange = RegisterWindowMessageW(L"GW_SETTING_CHANGE");
    // Installed already: installing again would hook every message twice.
    if (gShared.callRetHook) return 0;
    // Left over from an install that failed half-way: its handle would be lost.
    if (HHOOK stale = ClearHook(&gShared.getMsgHook)) UnhookWindowsHookEx(stale);

    gShared.getMsgHook = SetWindowsHookExW(WH_GETMESSAGE, GetMsgProc, gInstance, 0);
    if (!gShared.getMsgHook) return 0;
    gShared.callRetHook = SetWindowsHookExW(WH_CALLWNDPROCRET, CallWndRetProc, gInstance, 0);
    if (!gShared.callRetHook) return 0;
    glidewheel::ResetAfterInstall(*gLib.record);
    return 1;
}

int UninstallScrollHooks() {
    bool removed = true;
    for (HHOOK* slot : {&gShared.getMsgHook, &gShared.callRetHook}) {
        // Cleared whatever the outcome: a handle the system no longer knows
        // (its installer has gone) must not block the next install.
        const HHOOK h = ClearHook(slot);
        if (!h || !UnhookWindowsHookEx(h)) removed = false;
    }
    // Every hooked thread runs its message loop once, so that the system
    // can unload the library from it.
    EnumWindows(PostNull, 0);
    wchar_t path[kFolderChars + 20];
    std::wcscpy(path, gShared.folder);
    std::wcscat(path, L"\\glidewheel.dll");
    const HANDLE f = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    return removed ? 1 : 0;
}

void CaptureCustomCursor(HCURSOR cursor, int keepSaved) {
    glidewheel::CaptureCustomCursor(gLib, reinterpret_cast<Cursor>(cursor), keepSaved != 0);
}

void ClearCaptureCustomCursor() {
    glidewheel::ClearCaptureCustomCursor(gLib);
}

void SetCustomCursor() {
    glidewheel::SetCustomCursor(gLib);
}

void setZoomBtnsWindow(HWND w) {
    glidewheel::SetZoomBtnsWindow(gLib, FromWin(w));
}

void trackPaintMessage() {
    glidewheel::TrackPaintMessage(gLib);
}

int wasThereAPaintMessage(int limitMs) {
    return glidewheel::WasThereAPaintMessage(gLib, limitMs);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            DisableThreadLibraryCalls(instance);
            Attach(instance);
            return gProcess != nullptr;
        case DLL_PROCESS_DETACH:
            Detach(reserved != nullptr);
            return TRUE;
        default:
            return TRUE;
    }
}

}  // extern "C"
