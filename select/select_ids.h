// Control identifiers of the upload selection dialog (template 105).
#pragma once

#define IDC_ADD_SELECTED 116  // "선택 폴더(파일) 추가", the default button
#define IDC_PLACES 201        // place list: desktop and drives
#define IDC_PATH 202          // read-only path of the listed folder
#define IDC_FILES 203         // listing
