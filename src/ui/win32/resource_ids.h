#pragma once

// Ids of the Windows executable's resources and of the update dialog's controls; included by the
// resource script as well, so plain macros only.

#define IDI_LODESTAR 128
#define IDI_TRAY_FRAME_0 130
#define IDI_TRAY_FRAME_1 131
#define IDI_TRAY_FRAME_2 132

#define IDD_UPDATE_DIALOG 102

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
#define IDC_FILE_PROGRESS 1000
#define IDC_TOTAL_PROGRESS 1001
#define IDC_SERVER_COMBO 1003
#define IDC_AUTO_SELECT 1004
#define IDC_UPDATE_NOW 1005
#define IDC_LOG 1008
#define IDC_STATUS 1010
// The group box and the labels, whose texts the dialog sets from the catalogue.
#define IDC_GROUP 1011
#define IDC_SERVER_LABEL 1012
#define IDC_TOTAL_LABEL 1013
#define IDC_FILE_LABEL 1014
