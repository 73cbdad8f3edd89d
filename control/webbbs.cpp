#include "control/webbbs.h"

#include <cstdint>

#include "control/credentials.h"
#include "control/job_list.h"
#include "platform/install_folder.h"
#include "platform/support_log.h"

namespace trv {

namespace {

constexpr char kCredentialsRefused[] =
    "credentials refused: a blank, tab, quote or control character would reach the "
    "client's command line";

long Refuse(const char* reason) {
    NoteReason(reason);
    return kS_FALSE;
}

// Credentials go unquoted on a client's command line.
bool CommandLineSafe(const std::string& id, const std::string& pw) {
    return IsSafeCredential(id) && IsSafeCredential(pw);
}

}  // namespace

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
    const int code = m_platform.RunInstallCheck();
    if (code == 1) return true;
    NoteReason("client gate: the install/update check ended with code", code);
    return false;
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
                    const Route& route) {
    g_strUserID.Set(id);
    g_strUserPW.Set(pw);
    // A client that is not running gets the credentials on its command line:
    // refuse them before the install check rather than after it.
    if (!CommandLineSafe(id, pw) && !m_platform.FindWindowByClass(route.windowClass))
        return Refuse(kCredentialsRefused);
    if (!CheckClientReady()) return kS_FALSE;
    if (list.empty()) return Refuse("job list empty");
    if (id.empty()) return Refuse("user ID empty");
    if (pw.empty()) return Refuse("password empty");
    // This call's own credentials: while the install check ran, another
    // object may have stored someone else's.
    return HandOff(route, list, id, pw) ? kS_OK : kS_FALSE;
}

long WebBBS::UpLoadEnd(const std::string& strUserID, const std::string& strUserPW) {
    return EndJob(strUserID, strUserPW, m_strUpLoadList, UploadRoute());
}

long WebBBS::DownLoadEnd(const std::string& strUserID, const std::string& strUserPW) {
    return EndJob(strUserID, strUserPW, m_strDownLoadList, DownloadRoute());
}

WebBBS::Route WebBBS::UploadRoute() const {
    return {kUploadProgram, kClassUpload, &m_strUpLoadListFile, "bbs", kJobUpload};
}

WebBBS::Route WebBBS::DownloadRoute() const {
    return {kDownloadProgram, kClassDown, &m_strDownLoadListFile, "bbs", kJobDownload};
}

WebBBS::Route WebBBS::WebLinkRoute() const {
    return {kDownloadProgram, kClassDown, &m_strDownLoadListFile, "weblink", kJobWebLink};
}

bool WebBBS::SendUpLoadJob(const std::string& id, const std::string& pw) {
    return HandOff(UploadRoute(), m_strUpLoadList, id, pw);
}

bool WebBBS::SendDownLoadJob(const std::string& id, const std::string& pw) {
    return HandOff(DownloadRoute(), m_strDownLoadList, id, pw);
}

bool WebBBS::SendWebLinkJob(const std::string& id, const std::string& pw) {
    return HandOff(WebLinkRoute(), m_strWebLink, id, pw);
}

WindowRef WebBBS::StartAndWait(const Route& route, const std::string& id,
                               const std::string& pw) {
    const std::string& listFile = *route.listFile;
    // A stale list would be read again by the fresh client.
    if (m_platform.FileExists(listFile)) m_platform.RemoveFile(listFile);

    const std::string program = m_strInstallPath + route.program;
    const std::string parameters =
        std::string(route.commandWord) + " " + id + " " + pw + " " + EncodeBlanks(listFile);
    if (!m_platform.StartProgram(program, parameters)) {
        NoteReason("the client program could not be started");
        return 0;
    }

    WindowRef window = m_platform.FindWindowByClass(route.windowClass);
    for (unsigned waited = 0; !window && waited < kClientWindowWaitMs;
         waited += kClientWindowPollMs) {
        m_platform.Sleep(kClientWindowPollMs);
        window = m_platform.FindWindowByClass(route.windowClass);
    }
    if (!window) NoteReason("the client did not show its window within ms", kClientWindowWaitMs);
    return window;
}

bool WebBBS::HandOff(const Route& route, const std::string& text, const std::string& id,
                     const std::string& pw) {
    if (text.empty()) return false;
    const std::string& listFile = *route.listFile;
    if (listFile.empty()) {
        NoteReason("no temporary folder for the job-list file");
        return false;
    }

    WindowRef window = m_platform.FindWindowByClass(route.windowClass);
    if (!window) {
        if (!CommandLineSafe(id, pw)) {
            NoteReason(kCredentialsRefused);
            return false;
        }
        window = StartAndWait(route, id, pw);
        if (!window) return false;
    }

    // The address word only mirrors the sender's copy-data descriptor.
    const auto address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(text.c_str()));
    const std::vector<std::uint8_t> record = BuildJobRecord(route.kind, text, address);

    AppendResult result = AppendResult::Failed;
    for (unsigned attempt = 0;; ++attempt) {
        result = m_platform.AppendExclusive(listFile, record.data(), record.size());
        if (result != AppendResult::Busy || attempt >= kListFileRetries) break;
        m_platform.Sleep(kListFileRetryMs);
    }
    const bool written = result == AppendResult::Ok;

    // Only a record the client cannot find in its file goes by message.
    if (written && m_platform.FileExists(listFile)) return true;
    const bool sent = m_platform.SendCopyData(window, reinterpret_cast<std::uintptr_t>(this),
                                              route.kind, text.c_str(),
                                              static_cast<std::uint32_t>(text.size() + 1));
    if (!written && !sent) {
        NoteReason(result == AppendResult::Busy ? "the job-list file stayed busy"
                                                : "the job-list file could not be written");
        NoteReason("not delivered: the client window did not take the message");
    }
    return written || sent;
}

long WebBBS::LauncherExplorer(const std::string& strUserID, const std::string& strUserPW) {
    g_strUserID.Set(strUserID);
    g_strUserPW.Set(strUserPW);
    if (strUserID.empty()) return Refuse("user ID empty");
    if (strUserPW.empty()) return Refuse("password empty");
    // The explorer always gets them on its command line.
    if (!CommandLineSafe(strUserID, strUserPW)) return Refuse(kCredentialsRefused);
    if (!CheckClientReady()) return kS_FALSE;
    if (m_platform.FindWindowByClass(kClassExplorer)) return kS_OK;
    const std::string program = m_strInstallPath + kExplorerProgram;
    if (!m_platform.StartProgram(program, strUserID + " " + strUserPW))
        return Refuse("the explorer could not be started");
    return kS_OK;
}

long WebBBS::LauncherWebLink(const std::string& strUserID, const std::string& strUserPW,
                             const std::string& strWebLink, std::string& pVal) {
    m_strWebLink = strWebLink;
    if (!strUserID.empty()) g_strUserID.Set(strUserID);
    if (!strUserPW.empty()) g_strUserPW.Set(strUserPW);

    // What this call decides with is what it hands on, whatever another
    // object stores while the install check runs.
    const std::string id = g_strUserID.Get();
    const std::string pw = g_strUserPW.Get();
    const bool clientRuns = m_platform.FindWindowByClass(kClassDown) != 0;
    bool delivered = false;
    if (!clientRuns && (id.empty() || pw.empty())) {
        NoteReason("no download client running and no stored credentials");
    } else if (!clientRuns && !CommandLineSafe(id, pw)) {
        NoteReason(kCredentialsRefused);
    } else if (CheckClientReady()) {
        if (m_strWebLink.empty()) NoteReason("web link empty");
        delivered = SendWebLinkJob(id, pw);
    }
    pVal = delivered ? "1" : "0";
    return delivered ? kS_OK : kS_FALSE;
}

}  // namespace trv
