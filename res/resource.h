// Resource identifiers shared by the resource script and the program.
#pragma once

#define IDR_MAINFRAME           128
#define IDI_RIBBON2             129
#define IDI_TRAY_NORMAL         133
#define IDI_TRAY_WHITE          134
#define IDI_SHORTCUT            136

#define IDD_ABOUTBOX            100
#define IDD_NEWMESSAGE          130
#define IDD_CONFIG              131
#define IDD_UPDATE              135

#define IDC_SERVER              1000
#define IDC_INTERVAL            1001
#define IDC_USERID              1002
#define IDC_SHOWUSER            1004
#define IDC_PORT                1005
#define IDC_POLICY_NOTE         1006

// Tray menu and menu-bar commands
#define ID_TRAY_CONFIG          32771
#define ID_TRAY_CLOSE           32772
#define ID_SETTINGS             32773
#define ID_AUTORUN              32776
#define ID_PORTAL_HOME          32777
#define ID_NOTIFIER_UPDATE      32778
#define ID_SEND_SMS             32779
#define ID_VIEW_SMS             32780
#define ID_FAV1                 32781
#define ID_FAV2                 32782
#define ID_MY_MAIL              32783
#define ID_COLLEAGUES           32784
#define ID_CONTACTS             32785
#define ID_NOTICES              32786
#define ID_DEPARTMENT           32787
#define ID_MY_KLDG              32789
#define ID_ENT_KLDG             32790
#define ID_SEND_MAIL            32791
#define ID_FAV3                 32792
#define ID_FAV4                 32793
#define ID_FAV5                 32794
#define ID_FAV6                 32795
#define ID_FAV7                 32796
#define ID_FAV8                 32797
#define ID_FAV9                 32798
#define ID_FAV10                32799
#define ID_SCHEDULE             32800
#define ID_MY_HOME              32801
#define ID_SALES_HOME           32803
#define ID_SALES_ORDER          32804
#define ID_SALES_OUT            32805
#define ID_SALES_INVOICE        32806
#define ID_CUSTOMERS            32807
#define ID_PRODUCTS             32808
#define ID_STOCK                32809
#define ID_DAILY_REPORT         32810
#define ID_CONFIG_ADMIN         32811
#define ID_RECEIPTS             32812
#define ID_PAYABLE              32813
#define ID_CONTRACTS            32814
#define ID_COMMUNITIES          32815
#define ID_DOCFLOW              32816
#define ID_POS_SALES            32817
#define ID_ACTIVITIES           32818
#define ID_EXCHANGE             32819
#define ID_WRITE_NOTE           32820
#define ID_READ_NOTES           32821
#define ID_FAV12                32822
#define ID_FAV13                32823
#define ID_FAV14                32824
#define ID_FAV15                32825
#define ID_FAV16                32826
#define ID_FAV17                32827
#define ID_FAV18                32828
#define ID_FAV11                32829
#define ID_FAV19                32830
#define ID_FAV20                32831
#define ID_SHORTCUT_DESKTOP     32833
#define ID_SHORTCUT_STARTMENU   32834
#define ID_SHORTCUT_QUICKLAUNCH 32835
#define ID_SHORTCUT_ALL         32836

// Standard command identifiers
#define ID_FILE_NEW             0xE100
#define ID_FILE_OPEN            0xE101
#define ID_FILE_SAVE            0xE103
#define ID_EDIT_COPY            0xE122
#define ID_EDIT_CUT             0xE123
#define ID_EDIT_PASTE           0xE125
#define ID_EDIT_UNDO            0xE12B
#define ID_NEXT_PANE            0xE150
#define ID_PREV_PANE            0xE151
#define ID_APP_ABOUT            0xE140
#define ID_APP_EXIT             0xE141
#define ID_VIEW_TOOLBAR         0xE800
#define ID_VIEW_STATUS_BAR      0xE801

// Strings
#define IDS_APP_TITLE           57344   // AFX_IDS_APP_TITLE
#define IDS_TIP_NORMAL          200
#define IDS_TIP_NETFAULT        201
#define IDS_TIP_NEWMESSAGE      202
#define IDS_NO_SETTINGS_FILE    210
#define IDS_SAVE_FAILED         211
#define IDS_COM_FAILED          212
#define IDS_OTHER_TIMER         213
#define IDS_NO_USER_NAME        214
#define IDS_ENTER_INTEGER       215
#define IDS_AUTORUN_NEEDS_ADMIN 217
#define IDS_AUTORUN_FAILED      230
#define IDS_ALREADY_RUNNING     231
#define IDS_PROMPT_EXIT         ID_APP_EXIT
