/* resource.h -- resource ids shared between updater.rc, dialogs.rc and the code */
#pragma once

#define IDI_UPDATER 100

#define IDD_RESULT 103
#define IDD_PROGRESS 104

#define IDC_DETAILS_BOX 1001
#define IDC_DETAILS_BUTTON 1003
#define IDC_PROGRESS_BAR 1004
#define IDC_FILE_LABEL 1005
#define IDC_MESSAGE 1006
#define IDC_PROGRESS_GROUP 1007
#define IDC_HEADING 1008
