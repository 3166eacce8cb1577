// glidewheel.dll: the exports, the two system-wide hooks and the state they
// share. Every decision is the core's; this file only connects it to Win32.
#include <aclapi.h>
#include <windows.h>

#include <atomic>
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
    glidewheel::HookSlots hooks;  // call-return hook, get-message hook
    wchar_t folder[kFolderChars];
    glidewheel::CursorSlots cursors;
};

// Initialised data, so that the linker keeps it in its own shared section;
// constinit: no process may run an initialiser over the other processes' copy.
constinit SharedSection gShared
    __attribute__((section(".gwshare"), shared)) = {{0, 0}, {L'\0'}, {0, 0}};

// Per process.
HINSTANCE gInstance = nullptr;
HANDLE gMapping = nullptr;
glidewheel::SharedRecord gPrivateRecord{};
glidewheel::win32::Win32WindowSystem gWindows;
glidewheel::ProcessState* gProcess = nullptr;
glidewheel::Library gLib;
UINT gSettingChange = 0;
bool gCreatedMapping = false;
INIT_ONCE gPrepareOnce = INIT_ONCE_STATIC_INIT;
std::atomic<bool> gPrepared{false};

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
        gCreatedMapping = true;
    }
    return static_cast<glidewheel::SharedRecord*>(view);
}

glidewheel::WheelSettings QueryWheelSettings() {
    UINT lines = 0;
    const bool ok = SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
    return glidewheel::ReadWheelSettings(ok, lines);
}

// Under the loader lock only what kernel32 does; the rest waits for the
// first hooked message or export call (Prepare).
void Attach(HINSTANCE instance) {
    gInstance = instance;
    gProcess = new (std::nothrow) glidewheel::ProcessState;
    gLib.ws = &gWindows;
    gLib.record = MapSharedRecord();
    gLib.cursors = &gShared.cursors;
    gLib.process = gProcess;
}

BOOL CALLBACK PrepareOnce(PINIT_ONCE, PVOID, PVOID*) {
    // A null access-control list: processes of every account may open it.
    if (gCreatedMapping) {
        SetSecurityInfo(gMapping, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        nullptr, nullptr);
    }
    gLib.settings = QueryWheelSettings();
    gPrepared.store(true, std::memory_order_release);
    return TRUE;
}

// The work that must not run inside DllMain: advapi32 and user32 calls may
// load libraries or wait for other threads, which the loader lock forbids.
inline void Prepare() {
    if (!gPrepared.load(std::memory_order_acquire)) {
        InitOnceExecuteOnce(&gPrepareOnce, PrepareOnce, nullptr, nullptr);
    }
}

class Win32Hooks : public glidewheel::HookSystem {
  public:
    glidewheel::HookHandle Hook(glidewheel::HookKind kind) override;
    glidewheel::Unhooked Unhook(glidewheel::HookHandle h) override {
        if (UnhookWindowsHookEx(reinterpret_cast<HHOOK>(h))) return glidewheel::Unhooked::Removed;
        return GetLastError() == ERROR_INVALID_HOOK_HANDLE ? glidewheel::Unhooked::Unknown
                                                           : glidewheel::Unhooked::Failed;
    }
};

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
        Prepare();
        MSG* m = reinterpret_cast<MSG*>(lParam);
        glidewheel::Message msg{FromWin(m->hwnd), m->message, m->wParam, m->lParam};
        glidewheel::GetMessageHook(gLib, msg);
        if (msg.message != m->message) m->message = msg.message;
    }
    return CallNextHookEx(reinterpret_cast<HHOOK>(gShared.hooks.getMsg), code, wParam, lParam);
}

LRESULT CALLBACK CallWndRetProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && gLib.process) {
        Prepare();
        const CWPRETSTRUCT* c = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        glidewheel::CallWndRetHook(gLib, {FromWin(c->hwnd), c->message, c->wParam, c->lParam},
                                   c->lResult);
    }
    return CallNextHookEx(reinterpret_cast<HHOOK>(gShared.hooks.callRet), code, wParam, lParam);
}

glidewheel::HookHandle Win32Hooks::Hook(glidewheel::HookKind kind) {
    const HHOOK h = kind == glidewheel::HookKind::GetMessage
                        ? SetWindowsHookExW(WH_GETMESSAGE, GetMsgProc, gInstance, 0)
                        : SetWindowsHookExW(WH_CALLWNDPROCRET, CallWndRetProc, gInstance, 0);
    return reinterpret_cast<glidewheel::HookHandle>(h);
}

BOOL CALLBACK PostNull(HWND w, LPARAM) {
    PostMessageW(w, WM_NULL, 0, 0);
    return TRUE;
}

}  // namespace

extern "C" {

int InstallScrollHooks(const wchar_t* folder) {
    Prepare();
    std::wcsncpy(gShared.folder, folder ? folder : L"", kFolderChars - 1);
    gShared.folder[kFolderChars - 1] = L'\0';
    gSettingChange = RegisterWindowMessageW(L"GW_SETTING_CHANGE");
    Win32Hooks hooks;
    if (!glidewheel::InstallHooks(gShared.hooks, hooks)) return 0;
    glidewheel::ResetAfterInstall(*gLib.record);
    return 1;
}

int UninstallScrollHooks() {
    Prepare();
    Win32Hooks hooks;
    const int removed = glidewheel::UninstallHooks(gShared.hooks, hooks);
    // Every hooked thread runs its message loop once, so that the system
    // can unload the library from it.
    EnumWindows(PostNull, 0);
    wchar_t path[kFolderChars + 20];
    std::wcscpy(path, gShared.folder);
    std::wcscat(path, L"\\glidewheel.dll");
    const HANDLE f = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    return removed;
}

void CaptureCustomCursor(HCURSOR cursor, int keepSaved) {
    Prepare();
    glidewheel::CaptureCustomCursor(gLib, reinterpret_cast<Cursor>(cursor), keepSaved != 0);
}

void ClearCaptureCustomCursor() {
    Prepare();
    glidewheel::ClearCaptureCustomCursor(gLib);
}

void SetCustomCursor() {
    Prepare();
    glidewheel::SetCustomCursor(gLib);
}

void setZoomBtnsWindow(HWND w) {
    Prepare();
    glidewheel::SetZoomBtnsWindow(gLib, FromWin(w));
}

void trackPaintMessage() {
    Prepare();
    glidewheel::TrackPaintMessage(gLib);
}

int wasThereAPaintMessage(int limitMs) {
    Prepare();
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
