#include "control/webbbs.h"

#include <cstdint>

#include "control/credentials.h"
#include "control/job_list.h"
#include "platform/install_folder.h"

namespace trv {

WebBBS::WebBBS(IPlatform& platform, WebBBSEvents* events)
    : m_platform(platform), m_events(events) {
    m_strInstallPath = InstallFolderFrom(m_platform.ProgramFilesFolder());
    // Without a temporary folder the list paths stay empty and every
    // hand-off refuses, rather than writing into the current directory.
    std::string temp;
    if (m_platform.TempFolder(temp) && !temp.empty()) {
        m_strTempPath = temp;
        m_strDownLoadListFile = m_strTempPath + kDownloadListName;
        m_strUpLoadListFile = m_strTempPath + kUploadListName;
    }
}

long WebBBS::CheckInstall() {
    if (m_events) m_events->FireInstallCompleteEvent();
    return kS_OK;
}

bool WebBBS::CheckClientReady() {
    for (const char* cls : {kClassDown, kClassUpload, kClassExplorer}) {
        if (m_platform.FindWindowByClass(cls)) return true;
    }
    return m_platform.RunInstallCheck() == 1;
}

long WebBBS::UpLoadInit() {
    m_strUpLoadList.clear();
    CheckClientReady();
    return kS_OK;
}

long WebBBS::UpLoadInfo(const std::string& strIdx) {
    AppendListItem(m_strUpLoadList, strIdx);
    return kS_OK;
}

long WebBBS::DownLoadInit() {
    m_strDownLoadList.clear();
    CheckClientReady();
    return kS_OK;
}

long WebBBS::DownLoadInfo(const std::string& strIdx, const std::string& strPath) {
    m_platform.SetKoreanLocale();
    AppendDownloadItem(m_strDownLoadList, strIdx, strPath);
    return kS_OK;
}

long WebBBS::EndJob(const std::string& id, const std::string& pw, const std::string& list,
                    bool (WebBBS::*send)()) {
    g_strUserID.Set(id);
    g_strUserPW.Set(pw);
    if (!IsSafeCredential(id) || !IsSafeCredential(pw)) return kS_FALSE;
    if (!CheckClientReady()) return kS_FALSE;
    if (list.empty() || id.empty() || pw.empty()) return kS_FALSE;
    return (this->*send)() ? kS_OK : kS_FALSE;
}

long WebBBS::UpLoadEnd(const std::string& strUserID, const std::string& strUserPW) {
    return EndJob(strUserID, strUserPW, m_strUpLoadList, &WebBBS::SendUpLoadJob);
}

long WebBBS::DownLoadEnd(const std::string& strUserID, const std::string& strUserPW) {
    return EndJob(strUserID, strUserPW, m_strDownLoadList, &WebBBS::SendDownLoadJob);
}

bool WebBBS::SendUpLoadJob() {
    const Route route{kUploadProgram, kClassUpload, &m_strUpLoadListFile, "bbs", kJobUpload};
    return HandOff(route, m_strUpLoadList);
}

bool WebBBS::SendDownLoadJob() {
    const Route route{kDownloadProgram, kClassDown, &m_strDownLoadListFile, "bbs", kJobDownload};
    return HandOff(route, m_strDownLoadList);
}

bool WebBBS::SendWebLinkJob() {
    const Route route{kDownloadProgram, kClassDown, &m_strDownLoadListFile, "weblink",
                      kJobWebLink};
    return HandOff(route, m_strWebLink);
}

WindowRef WebBBS::StartAndWait(const Route& route, const std::string& id,
                               const std::string& pw) {
    const std::string& listFile = *route.listFile;
    // A stale list would be read again by the fresh client.
    if (m_platform.FileExists(listFile)) m_platform.RemoveFile(listFile);

    const std::string program = m_strInstallPath + route.program;
    const std::string parameters =
        std::string(route.commandWord) + " " + id + " " + pw + " " + EncodeBlanks(listFile);
    if (!m_platform.StartProgram(program, parameters)) return 0;

    WindowRef window = m_platform.FindWindowByClass(route.windowClass);
    for (unsigned waited = 0; !window && waited < kClientWindowWaitMs;
         waited += kClientWindowPollMs) {
        m_platform.Sleep(kClientWindowPollMs);
        window = m_platform.FindWindowByClass(route.windowClass);
    }
    return window;
}

bool WebBBS::HandOff(const Route& route, const std::string& text) {
    if (text.empty()) return false;
    const std::string& listFile = *route.listFile;
    if (listFile.empty()) return false;  // no temporary folder

    WindowRef window = m_platform.FindWindowByClass(route.windowClass);
    if (!window) {
        const std::string id = g_strUserID.Get();
        const std::string pw = g_strUserPW.Get();
        if (!IsSafeCredential(id) || !IsSafeCredential(pw)) return false;
        window = StartAndWait(route, id, pw);
        if (!window) return false;
    }

    // The address word only mirrors the sender's copy-data descriptor.
    const auto address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(text.c_str()));
    const std::vector<std::uint8_t> record = BuildJobRecord(route.kind, text, address);

    bool written = false;
    for (unsigned attempt = 0;; ++attempt) {
        const AppendResult result = m_platform.AppendExclusive(listFile, record.data(), record.size());
        if (result == AppendResult::Ok) {
            written = true;
            break;
        }
        if (result == AppendResult::Failed || attempt >= kListFileRetries) break;
        m_platform.Sleep(kListFileRetryMs);
    }

    // Only a record the client cannot find in its file goes by message.
    if (written && m_platform.FileExists(listFile)) return true;
    const bool sent = m_platform.SendCopyData(window, reinterpret_cast<std::uintptr_t>(this),
                                              route.kind, text.c_str(),
                                              static_cast<std::uint32_t>(text.size() + 1));
    return written || sent;
}

long WebBBS::LauncherExplorer(const std::string& strUserID, const std::string& strUserPW) {
    g_strUserID.Set(strUserID);
    g_strUserPW.Set(strUserPW);
    if (strUserID.empty() || strUserPW.empty()) return kS_FALSE;
    if (!IsSafeCredential(strUserID) || !IsSafeCredential(strUserPW)) return kS_FALSE;
    if (!CheckClientReady()) return kS_FALSE;
    if (m_platform.FindWindowByClass(kClassExplorer)) return kS_OK;
    const std::string program = m_strInstallPath + kExplorerProgram;
    return m_platform.StartProgram(program, strUserID + " " + strUserPW) ? kS_OK : kS_FALSE;
}

long WebBBS::LauncherWebLink(const std::string& strUserID, const std::string& strUserPW,
                             const std::string& strWebLink, std::string& pVal) {
    m_strWebLink = strWebLink;
    if (!strUserID.empty()) g_strUserID.Set(strUserID);
    if (!strUserPW.empty()) g_strUserPW.Set(strUserPW);

    const std::string id = g_strUserID.Get();
    const std::string pw = g_strUserPW.Get();
    bool delivered = false;
    if (IsSafeCredential(id) && IsSafeCredential(pw)) {
        const bool taken =
            m_platform.FindWindowByClass(kClassDown) != 0 || (!id.empty() && !pw.empty());
        if (taken && CheckClientReady()) delivered = SendWebLinkJob();
    }
    pVal = delivered ? "1" : "0";
    return delivered ? kS_OK : kS_FALSE;
}

}  // namespace trv
