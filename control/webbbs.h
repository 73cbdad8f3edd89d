// The scriptable object's state and behaviour, free of COM.
// The COM object in server/ converts script strings to narrow ANSI text and
// calls these methods; results are the HRESULT values S_OK (0) and S_FALSE (1).
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace trv {

constexpr long kS_OK = 0;
constexpr long kS_FALSE = 1;

constexpr char kClassDown[] = "tarvosk_class_down";
constexpr char kClassUpload[] = "tarvosk_class_upload";
constexpr char kClassExplorer[] = "tarvosk_class_explorer";

constexpr char kUploadProgram[] = "TARVOSKUp.exe";
constexpr char kDownloadProgram[] = "TARVOSKDown.exe";
constexpr char kExplorerProgram[] = "Explorer.exe";

constexpr char kUploadListName[] = "TARVOSK_Upload_List";
constexpr char kDownloadListName[] = "TARVOSK_Download_List";

// A client that never shows its window must not freeze the browser.
constexpr unsigned kClientWindowPollMs = 500;
constexpr unsigned kClientWindowWaitMs = 20000;
// A client reading its job-list file holds it only briefly.
constexpr unsigned kListFileRetryMs = 100;
constexpr unsigned kListFileRetries = 10;

// Where the object's events go; the COM layer implements it.
class WebBBSEvents {
public:
    virtual ~WebBBSEvents() = default;
    virtual long FireInstallCompleteEvent() = 0;
};

class WebBBS {
public:
    explicit WebBBS(IPlatform& platform, WebBBSEvents* events = nullptr);

    long CheckInstall();
    long UpLoadInit();
    long UpLoadInfo(const std::string& strIdx);
    long UpLoadEnd(const std::string& strUserID, const std::string& strUserPW);
    long DownLoadInit();
    long DownLoadInfo(const std::string& strIdx, const std::string& strPath);
    long DownLoadEnd(const std::string& strUserID, const std::string& strUserPW);
    long LauncherExplorer(const std::string& strUserID, const std::string& strUserPW);
    long LauncherWebLink(const std::string& strUserID, const std::string& strUserPW,
                         const std::string& strWebLink, std::string& pVal);

    bool CheckClientReady();

    // Each returns whether the job reached the client, by file or message.
    // A client that must be started gets id and pw on its command line.
    bool SendUpLoadJob(const std::string& id, const std::string& pw);
    bool SendDownLoadJob(const std::string& id, const std::string& pw);
    bool SendWebLinkJob(const std::string& id, const std::string& pw);

    const std::string& UpLoadList() const { return m_strUpLoadList; }
    const std::string& DownLoadList() const { return m_strDownLoadList; }
    const std::string& WebLink() const { return m_strWebLink; }
    const std::string& InstallPath() const { return m_strInstallPath; }
    const std::string& TempPath() const { return m_strTempPath; }
    const std::string& DownLoadListFile() const { return m_strDownLoadListFile; }
    const std::string& UpLoadListFile() const { return m_strUpLoadListFile; }

private:
    struct Route {
        const char* program;
        const char* windowClass;
        const std::string* listFile;
        const char* commandWord;
        std::uint32_t kind;
    };
    Route UploadRoute() const;
    Route DownloadRoute() const;
    Route WebLinkRoute() const;
    bool HandOff(const Route& route, const std::string& text, const std::string& id,
                 const std::string& pw);
    WindowRef StartAndWait(const Route& route, const std::string& id, const std::string& pw);
    long EndJob(const std::string& id, const std::string& pw, const std::string& list,
                const Route& route);

    IPlatform& m_platform;
    WebBBSEvents* m_events;

    std::string m_strDownLoadList;
    std::string m_strUpLoadList;
    std::string m_strWebLink;
    std::string m_strInstallPath;
    std::string m_strTempPath;
    std::string m_strDownLoadListFile;
    std::string m_strUpLoadListFile;
};

}  // namespace trv
