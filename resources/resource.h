// Ids of the GUI's resources: templates, menu, accelerators, pictures and controls.
#pragma once

// Dialog templates, menu and accelerators.
#define IDD_ABOUT 103
#define IDD_MAIN 131
#define IDD_DISCOVER 145
#define IDD_HELP_PAGES 147
#define IDD_VERSION_INFORMATION 158
#define IDD_NOTES 159
#define IDD_SPLASH 160
#define IDD_ENTER_BOOTLOAD 161
#define IDR_MAIN_MENU 110
#define IDR_ACCELERATORS 110

// Pictures: the program icon, the four tray frames and the product bitmap.
#define IDI_PROGRAM 133
#define IDI_TRAY_FRAME1 137
#define IDI_TRAY_FRAME2 139
#define IDI_TRAY_FRAME3 141
#define IDI_TRAY_FRAME4 143
#define IDB_PRODUCT 146

// Menu commands.
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_UPDATE 32771
#define IDM_UNIT_PREPARATIONS 32772
#define IDM_UPDATE_INSTRUCTIONS 32773

// Main window controls.
#define IDC_IP_ADDRESS 1000
#define IDC_DISCOVER 1001
#define IDC_PRODUCT_NAME 1002
#define IDC_PROGRESS 1003
#define IDC_UPDATE 1004
#define IDC_OVERWRITE_GROUP 1005
#define IDC_FACTORY_DEFAULTS 1007
#define IDC_CONNECTION_GROUP 1010
#define IDC_STATUS 1011
#define IDC_BUILD_VERSION 1014
#define IDC_PARSER_PORT 1020
#define IDC_MORE 1023
#define IDC_SERVER_FIRMWARE 1030
#define IDC_SERVER_UI 1032
#define IDC_EXIT_BOOTLOAD 1039
#define IDC_ENTER_BOOTLOAD 1043
#define IDC_APP_VERSION_LABEL 1049
#define IDC_APP_VERSION 1051
#define IDC_IP_RADIO 1053
#define IDC_COM_RADIO 1055
#define IDC_COM_LIST 1057
#define IDC_PARSER_PORT_LABEL 1059

// Splash picture.
#define IDC_SPLASH_PICTURE 1037

// Discover dialog (the version texts reuse the main window's 1049 and 1051).
#define IDC_UNIT_LIST 1012
#define IDC_BOOTLOADER_VERSION 1045
#define IDC_BOOTLOADER_VERSION_LABEL 1047

// Enter Bootload dialog.
#define IDC_PIN 1022

// About, help pages and Notes.
#define IDC_ABOUT_TITLE 1016
#define IDC_ABOUT_PICTURE 1015
#define IDC_HELP_PREVIOUS 1017
#define IDC_HELP_NEXT 1018
#define IDC_HELP_TEXT 1019
#define IDC_NOTES_TEXT 1021

// Version Information: six label and value pairs, filled from the top.
#define IDC_ROW1_LABEL 1031
#define IDC_ROW2_LABEL 1034
#define IDC_ROW3_LABEL 1036
#define IDC_ROW4_LABEL 1038
#define IDC_ROW5_LABEL 1040
#define IDC_ROW6_LABEL 1044
#define IDC_ROW1_VALUE 1033
#define IDC_ROW2_VALUE 1046
#define IDC_ROW3_VALUE 1048
#define IDC_ROW4_VALUE 1050
#define IDC_ROW5_VALUE 1052
#define IDC_ROW6_VALUE 1054
