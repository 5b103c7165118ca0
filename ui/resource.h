#pragma once
// Ids of the dialogs' templates and controls (shared by the .rc and the code).
#define IDD_HIDACTION 1201
#define IDD_ACTIONEDIT 1202
#define IDR_BUSY 1210

// fmHidAction
#define IDC_HA_MESSAGE 101
#define IDC_HA_ANIMATE 102
#define IDC_HA_TOTAL 103
#define IDC_HA_LABEL2 104

// fmActionEdit
#define IDC_AE_LABEL1 201
#define IDC_AE_PLAYERACTION 202
#define IDC_AE_LABEL2 203
#define IDC_AE_ACTIVEHID 204
#define IDC_AE_LABEL3 205
#define IDC_AE_STATUS 206
#define IDC_AE_ASSIGN 207
#define IDC_AE_BEVEL1 208
