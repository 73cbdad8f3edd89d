// The display scale of the module's windows. The per-window calls exist
// only on newer Windows (and not all of them under Wine), so each is looked
// up at run time with the screen's scale as the fallback.
#pragma once

#include <windows.h>

#include <vector>

namespace trv {

constexpr UINT kDefaultDpi = 96;

// The scale the window is drawn at: its monitor's for a per-monitor aware
// host, the system's otherwise.
UINT WindowDpi(HWND window);
// A system metric (SM_CXSMICON...) as it is at that scale.
int MetricForDpi(int index, UINT dpi);
// Pixels at 96 DPI to pixels at dpi.
inline int ScaleForDpi(int pixels, UINT dpi) { return MulDiv(pixels, static_cast<int>(dpi), kDefaultDpi); }

// Keeps a dialog's layout for the scale of the monitor it is on. The
// template lays the dialog out for the scale it opens at; when it moves to a
// monitor of another scale (WM_DPICHANGED) the dialog takes the suggested
// rectangle and every control gets a font for the new scale and its place
// and size in proportion. Newer Windows would re-lay some dialogs out by
// itself and older ones and per-monitor (v1) hosts such as IE would not; the
// dialog does it itself everywhere, so it looks the same in every host.
class DialogScale {
public:
    DialogScale() = default;
    ~DialogScale();
    DialogScale(const DialogScale&) = delete;
    DialogScale& operator=(const DialogScale&) = delete;

    // At WM_INITDIALOG, once the controls exist.
    void Attach(HWND dialog);
    // WM_DPICHANGED's parameters; returns the new scale (the old one when the
    // message is not acted on).
    UINT Apply(WPARAM wParam, LPARAM lParam);
    UINT Dpi() const { return m_dpi; }

private:
    struct Control {
        HWND window;
        RECT rect;  // in the dialog's client area, at m_baseDpi
    };
    void Release();

    HWND m_dialog = nullptr;
    UINT m_baseDpi = kDefaultDpi;  // the scale the template was laid out for
    UINT m_dpi = kDefaultDpi;
    std::vector<Control> m_controls;
    LOGFONTW m_baseFont = {};
    bool m_hasFont = false;
    HFONT m_font = nullptr;  // ours; the template's font belongs to the dialog manager
};

}  // namespace trv
