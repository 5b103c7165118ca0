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

// fmConfig and its four pages
#define IDD_CONFIG 1203
#define IDD_CFG_ACTIONS 1204
#define IDD_CFG_ACTIONSEXT 1205
#define IDD_CFG_HID 1206
#define IDD_CFG_ABOUT 1207
#define IDC_CF_PAGES 301
#define IDC_CF_POWERED 302
#define IDC_CF_ACTPLAY 311
#define IDC_CF_ACTNEXT 312
#define IDC_CF_ACTPREV 313
#define IDC_CF_ACTVOLUP 314
#define IDC_CF_ACTVOLDOWN 315
#define IDC_CF_ACTMUTE 316
#define IDC_CF_MORE 317
#define IDC_CF_LABEL2 321
#define IDC_CF_LABEL3 322
#define IDC_CF_LABEL4 323
#define IDC_CF_LABEL8 324
#define IDC_CF_LABEL9 325
#define IDC_CF_LABEL12 326
#define IDC_CF_ACTIONS 331
#define IDC_CF_ADD 332
#define IDC_CF_EDIT 333
#define IDC_CF_DELETE 334
#define IDC_CF_SIMPLE 335
#define IDC_CF_LABEL1 341
#define IDC_CF_DEVICEBOX 342
#define IDC_CF_AUTODETECT 343
#define IDC_CF_TREE 344
#define IDC_CF_PROPERTIES 345
#define IDC_CF_OPEN 346
#define IDC_CF_MEMO 347
#define IDC_CF_LABEL7 351
#define IDC_CF_VERSION 352
#define IDC_CF_LABEL14 353
#define IDC_CF_LABEL6 354
