#include "platform/fake/fake_platform.h"

namespace trv {

void FakePlatform::ShowWindow(const std::string& windowClass) {
    if (!windows.count(windowClass)) windows[windowClass] = m_nextWindow++;
}

std::string FakePlatform::ProgramFilesFolder() {
    calls.push_back("programfiles");
    return programFiles;
}

bool FakePlatform::TempFolder(std::string& folder) {
    calls.push_back("temp");
    if (!hasTempFolder) return false;
    folder = tempFolder;
    return true;
}

WindowRef FakePlatform::FindWindowByClass(const std::string& className) {
    calls.push_back("find " + className);
    auto pending = m_pendingWindows.find(className);
    if (pending != m_pendingWindows.end() && pending->second >= 0) {
        if (pending->second == 0) {
            ShowWindow(className);
            m_pendingWindows.erase(pending);
        } else {
            --pending->second;
        }
    }
    auto it = windows.find(className);
    return it == windows.end() ? 0 : it->second;
}

bool FakePlatform::StartProgram(const std::string& program, const std::string& parameters) {
    calls.push_back("start " + program + " " + parameters);
    if (startFails) return false;
    started.push_back({program, parameters});
    auto it = programs.find(program);
    if (it != programs.end()) {
        const ProgramBehaviour& p = it->second;
        if (p.looksUntilWindow >= 0) m_pendingWindows[p.windowClass] = p.looksUntilWindow;
        if (p.removesListFile) m_removers[p.listFile] = true;
    }
    return true;
}

void FakePlatform::Sleep(unsigned milliseconds) {
    calls.push_back("sleep " + std::to_string(milliseconds));
}

bool FakePlatform::FileExists(const std::string& path) {
    calls.push_back("exists " + path);
    return files.count(path) != 0;
}

bool FakePlatform::RemoveFile(const std::string& path) {
    calls.push_back("delete " + path);
    return files.erase(path) != 0;
}

AppendResult FakePlatform::AppendExclusive(const std::string& path, const void* data,
                                           std::size_t size) {
    calls.push_back("append " + path);
    if (appendFails) return AppendResult::Failed;
    if (busyAppends > 0) {
        --busyAppends;
        return AppendResult::Busy;
    }
    files[path].append(static_cast<const char*>(data), size);
    // A client that removes its file has read it by the time the writer looks.
    if (m_removers.count(path)) files.erase(path);
    return AppendResult::Ok;
}

bool FakePlatform::SendCopyData(WindowRef window, std::uintptr_t sender, std::uint32_t kind,
                                const void* data, std::uint32_t size) {
    calls.push_back("copydata " + std::to_string(kind));
    bool alive = false;
    for (const auto& w : windows) alive = alive || w.second == window;
    if (!alive || sendFails) return false;
    sent.push_back({window, sender, kind, std::string(static_cast<const char*>(data), size)});
    return true;
}

void FakePlatform::SetKoreanLocale() {
    calls.push_back("setlocale Korean");
    ++localeSets;
}

int FakePlatform::RunInstallCheck() {
    calls.push_back("installcheck");
    ++installChecks;
    if (duringInstallCheck) duringInstallCheck();
    return installCheckResult;
}

}  // namespace trv
