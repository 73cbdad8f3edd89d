// UploadSelect: the modal dialog in which the user picks files and folders
// for upload. Each press of the add button reports the selected entries, and
// everything below selected folders, one triple at a time.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <oleauto.h>

#include <map>
#include <string>
#include <vector>

#include "platform/win32/browse_win32.h"
#include "platform/win32/dpi.h"
#include "platform/win32/registry_win32.h"
#include "select/browse_model.h"

namespace trv {

// Where the dialog reports (strPath, strSize, strMode). The COM object's
// IWebBBS::SelectComplete stands behind it; tests use their own.
class SelectionSink {
public:
    virtual ~SelectionSink() = default;
    virtual HRESULT Report(BSTR strPath, BSTR strSize, BSTR strMode) = 0;
};

class UploadSelect {
public:
    explicit UploadSelect(SelectionSink* sink);
    ~UploadSelect();
    UploadSelect(const UploadSelect&) = delete;
    UploadSelect& operator=(const UploadSelect&) = delete;

    // Runs template 105 modally over owner; returns the end code (2 on
    // closing, -1 when the dialog could not be made).
    INT_PTR DoModal(HWND owner);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    BOOL OnInitDialog();
    void OnAddSelected();
    void OnRootChange();
    void OnListDoubleClick();
    void OnLineInfo(NMLVDISPINFOW& request);
    LRESULT FindLine(const LVFINDINFOW& find, int start) const;
    void ListFolder();
    void ShowListing();
    void ClearFileList();
    int FirstSelected() const;
    void OnDpiChanged(WPARAM wParam, LPARAM lParam);
    void MakeImages(UINT dpi);
    int CopyShellIcon(HIMAGELIST images, int shellIndex, int index);
    int ListIcon(int shellIndex);
    void ReleaseImages();

    SelectionSink* m_pWebBBS;  // not owned
    HWND m_hWnd = nullptr;
    HWND m_ctlPlaces = nullptr;
    HWND m_ctlPath = nullptr;
    HWND m_ctlFiles = nullptr;
    CRegistry m_registry;
    HIMAGELIST m_shellImages = nullptr;  // the shell's shared icons nearest the set's size, read only
    HIMAGELIST m_images = nullptr;       // the listing's own set
    DialogScale m_scale;
    std::map<int, int> m_iconOf;         // shell icon index -> index in m_images
    std::string m_strRegKey = kSelectRegKey;
    Win32Browse m_platform;
    BrowseModel m_model;
    std::vector<RootEntry> m_roots;  // place-list lines carry their index here
    int m_nParentImage = 0;
    bool m_reporting = false;  // a press is reporting its entries
};

}  // namespace trv
