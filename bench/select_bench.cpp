// Selection benchmark: a tree of 20,000 files in 2,000 folders, the time from
// the add press to the last report at a C++ sink, against a bare two-pass
// FindFirstFileA walk of the same tree in the same run. Prints ratios only.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

#include "select/select_ids.h"
#include "select_support.h"

namespace {

using namespace trv::selecttest;

const std::wstring kBase = L"C:\\trv-bench";
const std::wstring kTree = kBase + L"\\tree";
constexpr int kTop = 40, kSub = 49, kFilesPerFolder = 10;  // 40 + 40*49 = 2,000 folders

class CountingSink : public trv::SelectionSink {
public:
    HRESULT Report(BSTR, BSTR, BSTR) override {
        ++count;
        return S_OK;
    }
    std::atomic<long> count{0};
};

double Now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

void MakeTree() {
    RemoveTree(kBase);
    MakeFolder(kBase);
    MakeFolder(kTree);
    auto files = [](const std::wstring& folder) {
        for (int f = 0; f < kFilesPerFolder; ++f)
            MakeFile(folder + L"\\file" + std::to_wstring(f) + L".dat", 16);
    };
    for (int t = 0; t < kTop; ++t) {
        const std::wstring top = kTree + L"\\dir" + std::to_wstring(t);
        MakeFolder(top);
        files(top);
        for (int s = 0; s < kSub; ++s) {
            const std::wstring sub = top + L"\\sub" + std::to_wstring(s);
            MakeFolder(sub);
            if (t * kSub + s < 2000 - kTop) files(sub);
        }
    }
}

// Folders pass, then files pass, at each level: what the dialog's walk does
// without reporting anything.
long BareWalk(const std::string& folder) {
    long entries = 0;
    for (int pass = 0; pass < 2; ++pass) {
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA((folder + "\\*.*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) continue;
        do {
            const bool dir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (std::string(data.cFileName) == "." || std::string(data.cFileName) == "..") continue;
            if (pass == 0 && dir) {
                ++entries;
                entries += BareWalk(folder + "\\" + data.cFileName);
            } else if (pass == 1 && !dir) {
                ++entries;
            }
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    return entries;
}

}  // namespace

int main() {
    MakeTree();
    SetRemembered(L"C:\\", kBase);
    const long expected = 1 + 2000 + 20000;

    double bare = 1e9, dialog = 1e9;
    long walked = 0, reported = 0;
    for (int round = 0; round < 3; ++round) {
        const double start = Now();
        walked = BareWalk("C:\\trv-bench\\tree");
        bare = std::min(bare, Now() - start);

        CountingSink sink;
        double took = -1;
        RunDialog(&sink, [&](HWND dlg) {
            HWND list = GetDlgItem(dlg, IDC_FILES);
            WaitUntil([&] { return LineOf(list, L"tree") >= 0; });
            Select(list, {LineOf(list, L"tree")});
            const double t0 = Now();
            PressAdd(dlg);  // returns once the last report is made
            took = Now() - t0;
        });
        reported = sink.count;
        if (took > 0) dialog = std::min(dialog, took);
    }
    RemoveTree(kBase);
    std::printf("bare walk: %ld entries; dialog: %ld reports (expected %ld)\n", walked + 1, reported,
                expected);
    std::printf("add press to last report / bare two-pass walk: %.2f\n", dialog / bare);
    return reported == expected ? 0 : 1;
}
