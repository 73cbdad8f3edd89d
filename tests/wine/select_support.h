// Helpers for the selection dialog's Wine programs: a real folder tree, the
// remembered place, a recording sink, and a driver that runs the modal dialog
// on this thread while a second thread works its controls.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "select/upload_select.h"

namespace trv::selecttest {

using Triple = std::vector<std::wstring>;

// Records every report, and whether the add button was enabled at that moment.
class RecordingSink : public SelectionSink {
public:
    HRESULT Report(BSTR strPath, BSTR strSize, BSTR strMode) override;
    std::vector<Triple> Take();
    std::size_t Count();
    HWND dialog = nullptr;        // set by the driver
    int reportsWhileEnabled = 0;  // add button enabled during a report

private:
    std::mutex m_lock;
    std::vector<Triple> m_triples;
};

bool MakeFolder(const std::wstring& path, DWORD attributes = 0);
bool MakeFile(const std::wstring& path, std::size_t size, DWORD attributes = 0);
void RemoveTree(const std::wstring& path);
bool SetRemembered(const std::wstring& drive, const std::wstring& path);
std::wstring ReadRemembered(const wchar_t* name);

// Opens the dialog modally here; script runs on a second thread with the
// dialog's window once it exists and the dialog is closed (IDCANCEL) after
// it unless the script closed it. Returns the dialog's end code.
INT_PTR RunDialog(SelectionSink* sink, const std::function<void(HWND)>& script);
// The same with the dialog opened by `open` (which returns once it is closed).
INT_PTR DriveDialog(const std::function<INT_PTR()>& open, RecordingSink* recording,
                    const std::function<void(HWND)>& script);

std::vector<std::wstring> Column(HWND list, int column);
int ItemCount(HWND list);
int SelectedCount(HWND list);
void Select(HWND list, const std::vector<int>& lines);
int LineOf(HWND list, const std::wstring& name);
std::wstring Text(HWND window);
void PressAdd(HWND dialog);
void DoubleClick(HWND dialog, int line);  // NM_DBLCLK as the list view sends it
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);

}  // namespace trv::selecttest
