// Resource ids of every screen, named by screen and control.
#pragma once

// The templates' texts are English texts of the translations (language.h),
// marked for xgettext as the programs' are.
#ifdef RC_INVOKED
#define N_(english) english
#endif

#define IDD_PROGRESS                109
#define IDC_PROGRESS_PERCENT        1002
#define IDC_PROGRESS_ITEM           1100

#define IDI_PRODUCT                 110

#define IDD_AGREEMENT               111
#define IDC_AGREEMENT_TEXT          1101

#define IDD_CHOOSE_FOLDER           113
#define IDC_CHOOSE_FOLDER_PARENT    1097
#define IDC_CHOOSE_FOLDER_BROWSE    1098
#define IDC_CHOOSE_FOLDER_NAME      1099

#define IDD_INSTALL_FOR             115
#define IDC_INSTALL_FOR_USER        1110
#define IDC_INSTALL_FOR_MACHINE     1111

#define IDC_STATIC_TEXT             -1
