#include "platform/win32/dpi.h"

#include "platform/win32/com_util.h"

namespace trv {

namespace {

template <typename Function>
Function UserFunction(const char* name) {
    return ProcIn<Function>(GetModuleHandleW(L"user32.dll"), name);
}

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
using SetDialogDpiChangeBehaviorFn = BOOL(WINAPI*)(HWND, int, int);
constexpr int kDialogScalingOff = 1;  // DDC_DISABLE_ALL
// Windows scales from 100 % to 500 %; a little room on either side.
constexpr UINT kLeastDpi = 48, kMostDpi = 960;

UINT ScreenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : kDefaultDpi;
}

bool IsComboBox(HWND window) {
    wchar_t name[16] = {};
    return GetClassNameW(window, name, 16) && lstrcmpiW(name, L"ComboBox") == 0;
}

}  // namespace

UINT WindowDpi(HWND window) {
    static const auto forWindow = UserFunction<GetDpiForWindowFn>("GetDpiForWindow");
    if (const UINT dpi = forWindow && window ? forWindow(window) : 0) return dpi;
    // Windows 8.1: the monitor's scale as the process sees it (its own for a
    // per-monitor aware host such as IE, the system's or 96 for the others).
    // From the system folder only, never from beside the host; kept loaded.
    static const HMODULE shcore = LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    static const auto forMonitor = ProcIn<GetDpiForMonitorFn>(shcore, "GetDpiForMonitor");
    UINT x = 0, y = 0;
    if (forMonitor && window &&
        SUCCEEDED(forMonitor(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), 0, &x, &y)) && y)
        return y;  // 0: MDT_EFFECTIVE_DPI
    return ScreenDpi();
}

int MetricForDpi(int index, UINT dpi) {
    static const auto forDpi = UserFunction<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
    if (forDpi) return forDpi(index, dpi);
    return MulDiv(GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(ScreenDpi()));
}

DialogScale::~DialogScale() { Release(); }

void DialogScale::Release() {
    if (m_font) DeleteObject(m_font);
    m_font = nullptr;
    m_controls.clear();
    m_hasFont = false;
    m_dialog = nullptr;
}

void DialogScale::Attach(HWND dialog) {
    Release();
    m_dialog = dialog;
    m_baseDpi = m_dpi = WindowDpi(dialog);
    static const auto ownScaling =
        UserFunction<SetDialogDpiChangeBehaviorFn>("SetDialogDpiChangeBehavior");
    if (ownScaling) ownScaling(dialog, kDialogScalingOff, kDialogScalingOff);

    const auto font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    m_hasFont = font && GetObjectW(font, sizeof m_baseFont, &m_baseFont) == sizeof m_baseFont;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rect;
        if (!GetWindowRect(child, &rect)) continue;
        // A drop-down list's window is its closed box; it is sized with its list.
        RECT dropped;
        if (IsComboBox(child) &&
            SendMessageW(child, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped)))
            rect.bottom = rect.top + (dropped.bottom - dropped.top);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        m_controls.push_back({child, rect});
    }
}

UINT DialogScale::Apply(WPARAM wParam, LPARAM lParam) {
    // Any program can send or post this message with any numbers and any
    // address: a scale Windows never uses, or a rectangle that cannot be
    // read here, is not acted on (the copy fails where reading it would
    // crash the host).
    const UINT dpi = LOWORD(wParam);
    RECT suggested;
    if (!m_dialog || dpi < kLeastDpi || dpi > kMostDpi ||
        !ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(lParam), &suggested,
                           sizeof suggested, nullptr) ||
        suggested.right <= suggested.left || suggested.bottom <= suggested.top)
        return m_dpi;
    m_dpi = dpi;
    HFONT font = nullptr;
    if (m_hasFont) {
        // By the template's point size, as the dialog manager makes it: the
        // font is then the one the dialog opened at this scale would have.
        LOGFONTW scaled = m_baseFont;
        const int points = MulDiv(-m_baseFont.lfHeight, 72, static_cast<int>(m_baseDpi));
        scaled.lfHeight = m_baseFont.lfHeight < 0 ? -MulDiv(points, static_cast<int>(dpi), 72)
                          : MulDiv(m_baseFont.lfHeight, static_cast<int>(dpi), static_cast<int>(m_baseDpi));
        scaled.lfWidth = MulDiv(m_baseFont.lfWidth, static_cast<int>(dpi), static_cast<int>(m_baseDpi));
        font = CreateFontIndirectW(&scaled);
    }
    SetWindowPos(m_dialog, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    // Each edge scaled on its own from the layout at the template's scale:
    // controls that did not overlap there do not overlap here, and nothing
    // drifts over several moves.
    const auto scale = [&](LONG v) { return MulDiv(v, static_cast<int>(dpi), static_cast<int>(m_baseDpi)); };
    for (const Control& control : m_controls) {
        if (font) SendMessageW(control.window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        const RECT& r = control.rect;
        SetWindowPos(control.window, nullptr, scale(r.left), scale(r.top), scale(r.right) - scale(r.left),
                     scale(r.bottom) - scale(r.top), SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (font) {
        if (m_font) DeleteObject(m_font);
        m_font = font;
    }
    RedrawWindow(m_dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    return dpi;
}

}  // namespace trv
