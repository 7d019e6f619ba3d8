// Control ids of the driver's sample program.
#ifndef SAMPLE_IDS_H
#define SAMPLE_IDS_H

#define IDD_SAMPLE 1
#define IDR_SAMPLE_KEYS 1
#define IDM_KEY_F5 50

#define IDC_SAMPLE_LIST 10
#define IDC_SAMPLE_COMBO 11
#define IDC_SHOW_INFORMATION 20
#define IDC_SHOW_EXCLAMATION 21
#define IDC_ASK_QUESTION 22
#define IDC_SHOW_STOP 23
#define IDC_OPEN_HELP 24
#define IDC_DISABLED_BUTTON 25
#define IDC_LAST_EVENT 30
#define IDC_SAMPLE_EDIT 40
#define IDC_SAMPLE_CHECK 41

#endif
