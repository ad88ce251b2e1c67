#pragma once
// Resource identifiers of Faultpost.exe, shared by the resource script and
// the code. Plain #defines only: the resource compiler reads this file too.

// Icons.
#define IDR_MAINFRAME 128  // the window icons of the crash dialog
#define IDI_CRASH 211      // the picture beside the apology text

// The crash dialog template.
#define IDD_MAINDLG 129

// Strings: the caption and text of the message box shown when the crash log
// file cannot be created.
#define IDS_APP_CAPTION 128           // "Faultpost"
#define IDS_CREATE_REPORT_FAILED 129  // "创建报告文件失败"

// Controls of the crash dialog.
#define IDC_CRASH_LOG 1000    // read-only box holding the crash log
#define IDC_SEND_REPORT 1003  // check box: send the report
#define IDC_RESTART 1004      // check box: restart the client
#define IDC_INFO_GROUP 1007   // group box around the crash log
#define IDC_CRASH_HINT 1008   // invisible; marks where the crash hint is drawn
#define IDC_LINK 1009         // the hyperlink under the hint
#define IDC_CASE_NUMBER 1010  // case number derived from the device id
