// Resource identifiers shared by the .rc files and the code.
#pragma once

#define IDR_WEBCONTROL_APP 101   // registrar script: AppID
#define IDR_WEBBBS 103           // registrar script: the WebBBS class
#define IDD_UPLOADSELECT 105     // selection dialog
#define IDB_PARENT 202           // parent-entry picture
#define IDD_FILEUPDATE 203       // install/update dialog
#define IDC_PROGRESS 205
#define IDC_STATUS 206
