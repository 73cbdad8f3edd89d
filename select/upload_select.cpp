#include "select/upload_select.h"

#include <oleauto.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <memory>
#include <type_traits>

#include "platform/win32/dpi.h"
#include "platform/win32/module_activation.h"
#include "platform/win32/wide_text.h"
#include "resources/resource.h"
#include "select/select_ids.h"
#include "select/selection.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace trv {

namespace {

constexpr wchar_t kCaption[] = L"파일/폴더 선택창";
constexpr wchar_t kDesktopCaption[] = L"바탕 화면";
constexpr COLORREF kMagenta = RGB(255, 0, 255);

HINSTANCE ThisModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

struct GdiDelete {
    void operator()(HBITMAP bitmap) const { DeleteObject(bitmap); }
};
using UniqueBitmap = std::unique_ptr<std::remove_pointer<HBITMAP>::type, GdiDelete>;

UniqueBstr AnsiToBstr(const std::string& text) {
    const int length = static_cast<int>(text.size());
    const int count = length ? MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0) : 0;
    UniqueBstr result(SysAllocStringLen(nullptr, static_cast<UINT>(count)));
    if (result.Get() && count) MultiByteToWideChar(CP_ACP, 0, text.data(), length, result.Get(), count);
    return result;
}

// The dialog being created on this thread: DialogBoxParam gets 0 as its
// initialisation value, so the object is picked up from here instead.
thread_local UploadSelect* t_creating = nullptr;

// The parent picture drawn for each scale; a scale between them gets the
// next smaller one stretched, one below 96 DPI the 16-pixel one shrunk
// (nearest pixel, so the magenta stays exact).
struct Picture {
    int size;
    int id;
};
constexpr Picture kParentPictures[] = {
    {32, IDB_PARENT_32}, {24, IDB_PARENT_24}, {20, IDB_PARENT_20}, {16, IDB_PARENT}};

UniqueBitmap ParentPicture(int size) {
    const Picture* chosen = &kParentPictures[3];
    for (const Picture& picture : kParentPictures) {
        if (picture.size <= size) {
            chosen = &picture;
            break;
        }
    }
    UniqueBitmap drawn(static_cast<HBITMAP>(
        LoadImageW(ThisModule(), MAKEINTRESOURCEW(chosen->id), IMAGE_BITMAP, 0, 0, 0)));
    if (!drawn || chosen->size == size) return drawn;
    UniqueBitmap stretched;
    HDC screen = GetDC(nullptr);
    HDC from = CreateCompatibleDC(screen), to = CreateCompatibleDC(screen);
    if (from && to) {
        stretched.reset(CreateCompatibleBitmap(screen, size, size));
        if (stretched) {
            const HGDIOBJ oldFrom = SelectObject(from, drawn.get());
            const HGDIOBJ oldTo = SelectObject(to, stretched.get());
            SetStretchBltMode(to, COLORONCOLOR);
            StretchBlt(to, 0, 0, size, size, from, 0, 0, chosen->size, chosen->size, SRCCOPY);
            SelectObject(from, oldFrom);
            SelectObject(to, oldTo);
        }
    }
    if (from) DeleteDC(from);
    if (to) DeleteDC(to);
    ReleaseDC(nullptr, screen);
    return stretched;
}

// The shell's icon lists (small, large, extra large) share their indices;
// the smallest that is at least `size` is scaled down the least blurred,
// else the largest. The shell keeps them for the process's life: borrowed.
HIMAGELIST ShellIcons(int size) {
    using GetImageListFn = HRESULT(WINAPI*)(int, REFIID, void**);
    static const auto getImageList = ProcIn<GetImageListFn>(GetModuleHandleW(L"shell32.dll"), "SHGetImageList");
    static const IID kIImageList = {
        0x46eb5926, 0x582e, 0x4017, {0x9f, 0xdf, 0xe8, 0x99, 0x8d, 0xaa, 0x09, 0x50}};
    SHFILEINFOA info = {};
    auto best = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoA("*.txt", FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                       SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    int bestSize = 0, cy = 0;
    if (best) ImageList_GetIconSize(best, &bestSize, &cy);
    for (int which : {SHIL_SMALL, SHIL_LARGE, SHIL_EXTRALARGE}) {
        IUnknown* list = nullptr;
        if (!getImageList || FAILED(getImageList(which, kIImageList, reinterpret_cast<void**>(&list))) || !list)
            continue;
        int cx = 0;
        ImageList_GetIconSize(reinterpret_cast<HIMAGELIST>(list), &cx, &cy);
        if (!best || (bestSize < size ? cx > bestSize : cx >= size && cx < bestSize)) {
            best = reinterpret_cast<HIMAGELIST>(list);
            bestSize = cx;
        }
        list->Release();
    }
    return best;
}

}  // namespace

UploadSelect::UploadSelect(SelectionSink* sink)
    : m_pWebBBS(sink), m_registry(SystemRegistry(), kHKeyCurrentUser),
      m_model(m_platform, m_registry) {}

UploadSelect::~UploadSelect() { ReleaseImages(); }

INT_PTR UploadSelect::DoModal(HWND owner) {
    const ModuleActivation styles;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    UploadSelect* outer = t_creating;
    t_creating = this;
    const INT_PTR result = DialogBoxParamW(ThisModule(), MAKEINTRESOURCEW(IDD_UPLOADSELECT), owner,
                                           &UploadSelect::DialogProc, 0);
    t_creating = outer;
    m_hWnd = nullptr;
    ReleaseImages();
    return result;
}

INT_PTR CALLBACK UploadSelect::DialogProc(HWND window, UINT message, WPARAM wParam,
                                          LPARAM lParam) {
    auto* self = reinterpret_cast<UploadSelect*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!self && t_creating) {
        self = t_creating;
        t_creating = nullptr;
        self->m_hWnd = window;
        SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    }
    return self ? self->HandleMessage(message, wParam, lParam) : FALSE;
}

INT_PTR UploadSelect::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        if (id == IDC_ADD_SELECTED && code == BN_CLICKED) {
            OnAddSelected();
            return TRUE;
        }
        if (id == IDCANCEL && code == BN_CLICKED) {
            EndDialog(m_hWnd, IDCANCEL);
            return TRUE;
        }
        if (id == IDC_PLACES && code == CBN_SELCHANGE) {
            OnRootChange();
            return TRUE;
        }
        return FALSE;
    }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header && header->idFrom == IDC_FILES && header->code == static_cast<UINT>(NM_DBLCLK)) {
            OnListDoubleClick();
            return TRUE;
        }
        if (!header || header->hwndFrom != m_ctlFiles || !m_ctlFiles) return FALSE;
        // The list holds no lines of its own (owner data): it asks for what it
        // shows and for typed prefixes; it keeps the selection itself.
        if (header->code == static_cast<UINT>(LVN_GETDISPINFOW)) {
            OnLineInfo(*reinterpret_cast<NMLVDISPINFOW*>(lParam));
            return TRUE;
        }
        if (header->code == static_cast<UINT>(LVN_ODFINDITEMW)) {
            const auto& find = *reinterpret_cast<const NMLVFINDITEMW*>(lParam);
            SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, FindLine(find.lvfi, find.iStart));
            return TRUE;
        }
        return FALSE;
    }
    case WM_DPICHANGED:
        OnDpiChanged(wParam, lParam);
        return TRUE;
    case WM_DESTROY:
        ClearFileList();
        return FALSE;
    }
    return FALSE;
}

BOOL UploadSelect::OnInitDialog() {
    SetWindowTextW(m_hWnd, kCaption);
    m_scale.Attach(m_hWnd);
    m_ctlPlaces = GetDlgItem(m_hWnd, IDC_PLACES);
    m_ctlPath = GetDlgItem(m_hWnd, IDC_PATH);
    m_ctlFiles = GetDlgItem(m_hWnd, IDC_FILES);

    m_model.LoadRemembered();

    m_roots = m_model.FillRootList();
    for (std::size_t i = 0; i < m_roots.size(); ++i) {
        const std::wstring text = m_roots[i].desktop ? kDesktopCaption : WidenAnsi(m_roots[i].text);
        const LRESULT line = SendMessageW(m_ctlPlaces, CB_ADDSTRING, 0,
                                          reinterpret_cast<LPARAM>(text.c_str()));
        if (line >= 0) SendMessageW(m_ctlPlaces, CB_SETITEMDATA, line, static_cast<LPARAM>(i));
    }
    SendMessageW(m_ctlPlaces, CB_SETCURSEL, 0, 0);
    const int current = m_model.Settle(m_roots);
    if (current > 0) SendMessageW(m_ctlPlaces, CB_SETCURSEL, current, 0);

    struct Column {
        const wchar_t* header;
        int format;
        int width;
    };
    const Column columns[] = {{L"이름", LVCFMT_LEFT, 300}, {L"크기", LVCFMT_RIGHT, 120},
                              {L"", LVCFMT_RIGHT, 0}};
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = columns[i].format;
        column.cx = ScaleForDpi(columns[i].width, m_scale.Dpi());
        column.pszText = const_cast<wchar_t*>(columns[i].header);
        column.iSubItem = i;
        SendMessageW(m_ctlFiles, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }

    MakeImages(m_scale.Dpi());

    SendMessageW(m_ctlFiles, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_GRIDLINES | LVS_EX_ONECLICKACTIVATE);
    SendMessageW(m_ctlFiles, LVM_SETCALLBACKMASK, LVIS_FOCUSED, 0);

    ListFolder();
    return TRUE;
}

void UploadSelect::ListFolder() {
    m_model.ListFolder();
    ShowListing();
}

void UploadSelect::ShowListing() {
    SetWindowTextW(m_ctlPath, WidenAnsi(m_model.WebPath()).c_str());
    // Emptying first drops the previous listing's selection, focus and scroll
    // position, which a new count alone would keep.
    ClearFileList();
    SendMessageW(m_ctlFiles, LVM_SETITEMCOUNT, m_model.Listing().size(), 0);
    InvalidateRect(m_ctlFiles, nullptr, TRUE);
}

void UploadSelect::ClearFileList() {
    // The lines are the model's: the list holds only their count and
    // selection, which this drops.
    if (m_ctlFiles) SendMessageW(m_ctlFiles, LVM_DELETEALLITEMS, 0, 0);
}

int UploadSelect::FirstSelected() const {
    return static_cast<int>(SendMessageW(m_ctlFiles, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                         MAKELPARAM(LVNI_SELECTED, 0)));
}

void UploadSelect::OnLineInfo(NMLVDISPINFOW& request) {
    // The focused state stays a callback state that is never reported.
    LVITEMW& item = request.item;
    const auto& listing = m_model.Listing();
    const bool known = item.iItem >= 0 && static_cast<std::size_t>(item.iItem) < listing.size();
    if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
        std::wstring text;
        if (known) {
            const FolderEntry& line = listing[static_cast<std::size_t>(item.iItem)];
            text = item.iSubItem == 0   ? WidenAnsi(line.name)
                   : item.iSubItem == 1 ? WidenAnsi(line.displaySize)
                   : item.iSubItem == 2 ? std::wstring(1, static_cast<wchar_t>(line.kind))
                                        : std::wstring();
        }
        lstrcpynW(item.pszText, text.c_str(), item.cchTextMax);
    }
    if ((item.mask & LVIF_IMAGE) && known) {
        const auto line = static_cast<std::size_t>(item.iItem);
        // Icons are looked up as lines are first shown.
        item.iImage = listing[line].kind == kKindParent ? m_nParentImage : ListIcon(m_model.IconOf(line));
    }
}

LRESULT UploadSelect::FindLine(const LVFINDINFOW& find, int start) const {
    // Typed prefixes (LVFI_PARTIAL) and whole names, without regard to case,
    // as the list view matches lines it holds itself.
    if (!(find.flags & (LVFI_STRING | LVFI_PARTIAL)) || !find.psz) return -1;
    const bool prefix = (find.flags & LVFI_PARTIAL) != 0;
    std::wstring wanted = find.psz;
    if (wanted.empty() || wanted.size() >= MAX_PATH) return -1;
    CharLowerBuffW(&wanted[0], static_cast<DWORD>(wanted.size()));
    const auto& listing = m_model.Listing();
    const int count = static_cast<int>(listing.size());
    if (start < 0 || start >= count) start = 0;
    wchar_t name[MAX_PATH + 1];
    for (int pass = 0; pass < 2; ++pass) {
        const int from = pass ? 0 : start, to = pass ? start : count;
        for (int i = from; i < to; ++i) {
            const std::string& text = listing[static_cast<std::size_t>(i)].name;
            const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), name,
                                                   MAX_PATH);
            if (length < static_cast<int>(wanted.size()) || (!prefix && length != static_cast<int>(wanted.size())))
                continue;
            CharLowerBuffW(name, static_cast<DWORD>(wanted.size()));
            if (!wmemcmp(name, wanted.c_str(), wanted.size())) return i;
        }
        if (!(find.flags & LVFI_WRAP)) break;
    }
    return -1;
}

void UploadSelect::OnRootChange() {
    const LRESULT line = SendMessageW(m_ctlPlaces, CB_GETCURSEL, 0, 0);
    if (line == CB_ERR) return;
    const LRESULT index = SendMessageW(m_ctlPlaces, CB_GETITEMDATA, line, 0);
    if (index < 0 || static_cast<std::size_t>(index) >= m_roots.size()) return;
    m_model.SelectRoot(m_roots[static_cast<std::size_t>(index)].rootPath);
    ShowListing();
}

void UploadSelect::OnListDoubleClick() {
    const int first = FirstSelected();
    const auto& listing = m_model.Listing();
    if (first < 0 || static_cast<std::size_t>(first) >= listing.size()) return;
    const FolderEntry& line = listing[static_cast<std::size_t>(first)];
    if (line.kind == kKindFile) return;
    const std::string name = line.name;
    m_model.OpenEntry(line.kind, name);
    ShowListing();
}

void UploadSelect::OnAddSelected() {
    // A click posted while a press is still reporting (the button is disabled
    // then) would report another selection in the middle of this one.
    if (m_reporting) return;
    int index = FirstSelected();
    if (index < 0) return;
    const HWND add = GetDlgItem(m_hWnd, IDC_ADD_SELECTED);
    EnableWindow(add, FALSE);

    // A line's index is its place in the listing.
    std::vector<int> selected;
    for (; index >= 0; index = static_cast<int>(SendMessageW(m_ctlFiles, LVM_GETNEXTITEM, index,
                                                             MAKELPARAM(LVNI_SELECTED, 0))))
        selected.push_back(index);
    // The page's handler runs inside each report; its result does not stop the press.
    m_reporting = true;
    ReportSelected(m_model, selected,
                   [this](const std::string& path, const std::string& size, const std::string& mode) {
                       if (!m_pWebBBS) return;
                       UniqueBstr strPath = AnsiToBstr(path);
                       UniqueBstr strSize = AnsiToBstr(size);
                       UniqueBstr strMode = AnsiToBstr(mode);
                       if (strPath.Get() && strSize.Get() && strMode.Get())
                           m_pWebBBS->Report(strPath.Get(), strSize.Get(), strMode.Get());
                   });
    m_reporting = false;

    LVITEMW cleared = {};
    cleared.stateMask = static_cast<UINT>(-1);
    cleared.state = 0;
    SendMessageW(m_ctlFiles, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                 reinterpret_cast<LPARAM>(&cleared));
    EnableWindow(add, TRUE);
}

// The shell's shared small-icon set is only read: appending the picture to
// it puts its small list out of step with the shell's other lists, and icons
// the shell adds later then come back with the picture's index. The listing
// gets a set of its own at the small-icon size of the window's scale: the
// picture first, then a copy of each shell icon as lines need it. On a move
// to another scale a new set takes the same images at the same indices, so
// the lines keep theirs.
void UploadSelect::MakeImages(UINT dpi) {
    const int size = MetricForDpi(SM_CXSMICON, dpi);
    m_shellImages = ShellIcons(size);
    HIMAGELIST images = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 16, 16);
    if (images) {
        // Index 0 is the picture's, kept blank when it cannot be had.
        if (UniqueBitmap parent = ParentPicture(size)) ImageList_AddMasked(images, parent.get(), kMagenta);
        int count = 1;
        for (const auto& known : m_iconOf) count = std::max(count, known.second + 1);
        ImageList_SetImageCount(images, static_cast<UINT>(count));
        for (const auto& known : m_iconOf)
            if (known.second > 0) CopyShellIcon(images, known.first, known.second);
    }
    SendMessageW(m_ctlFiles, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
    if (m_images) ImageList_Destroy(m_images);  // the list view holds the new set already
    m_images = images;
    m_nParentImage = 0;
    m_model.SetParentImage(m_nParentImage);
}

// The dialog moved to a monitor of another scale.
void UploadSelect::OnDpiChanged(WPARAM wParam, LPARAM lParam) {
    const UINT before = m_scale.Dpi();
    const UINT dpi = m_scale.Apply(wParam, lParam);
    if (dpi == before) return;
    // The columns keep their share of the list.
    for (int i = 0; i < 2; ++i) {
        const int width = static_cast<int>(SendMessageW(m_ctlFiles, LVM_GETCOLUMNWIDTH, i, 0));
        SendMessageW(m_ctlFiles, LVM_SETCOLUMNWIDTH, i, MulDiv(width, static_cast<int>(dpi), static_cast<int>(before)));
    }
    MakeImages(dpi);
    InvalidateRect(m_ctlFiles, nullptr, TRUE);
}

// The shell's icon drawn into `images` at `index` (-1: appended), at the set's size.
int UploadSelect::CopyShellIcon(HIMAGELIST images, int shellIndex, int index) {
    HICON icon = m_shellImages ? ImageList_GetIcon(m_shellImages, shellIndex, ILD_NORMAL) : nullptr;
    if (!icon) return -1;
    const int result = ImageList_ReplaceIcon(images, index, icon);
    DestroyIcon(icon);
    return result;
}

int UploadSelect::ListIcon(int shellIndex) {
    auto known = m_iconOf.find(shellIndex);
    if (known != m_iconOf.end()) return known->second;
    const int index = m_images ? CopyShellIcon(m_images, shellIndex, -1) : -1;
    m_iconOf[shellIndex] = index;
    return index;
}

void UploadSelect::ReleaseImages() {
    // The list view shares the set (LVS_SHAREIMAGELISTS) and is gone by now.
    if (m_images) ImageList_Destroy(m_images);
    m_images = nullptr;
    m_iconOf.clear();
}

}  // namespace trv
