// Texts of the installer packages' custom actions.
#pragma once
#define IDS_SETUP_BAD_SERVER    100
#define IDS_SETUP_BAD_PORT      101
#define IDS_SETUP_BAD_INTERVAL  102
#define IDS_SETUP_BAD_USERID    103
#define IDS_SETUP_BAD_BOOKMARKS 104
#define IDS_SETUP_CODE_PAGE     105
#define IDS_SETUP_BAD_AUTORUN   106
