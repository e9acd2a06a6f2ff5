// The numbers of the Windows program's resources and controls, shared by the
// resource script and the dialog's code. Plain #defines: the resource
// compiler reads this file too.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDS_CHOOSE_IMAGE 103
#define IDS_IMAGE_FILTER 104
#define IDD_VOLTRIX_DIALOG 102
#define IDR_MAINFRAME 128
#define IDC_TITLE 1000
#define IDC_DOWNLOAD 1002
#define IDC_PROGRESS 1008
#define IDC_STATUS 1010
// The About item of the system menu; system commands keep the low four bits
// for themselves.
#define IDM_ABOUTBOX 0x0010
// The system menu's item that opens the Open dialog for another image.
#define IDM_CHOOSE_IMAGE 0x0020
