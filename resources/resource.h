// Resource identifiers shared by the .rc files and the code.
#pragma once

#define IDR_WEBCONTROL_APP 101   // registrar script: AppID
#define IDR_WEBBBS 103           // registrar script: the WebBBS class
#define IDD_UPLOADSELECT 105     // selection dialog
#define IDB_PARENT 202           // parent-entry picture, 16 x 16 (96 DPI)
#define IDB_PARENT_20 212        // the same for 120 DPI
#define IDB_PARENT_24 222        // 144 DPI
#define IDB_PARENT_32 232        // 192 DPI
#define IDD_FILEUPDATE 203       // install/update dialog
#define IDC_PROGRESS 205
#define IDC_STATUS 206
