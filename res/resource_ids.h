/* Resource ids of SETUP.EXE, shared by the resource scripts and the program code.
   Plain preprocessor definitions only: windres reads this file as well as the C++ compiler. */
#pragma once

/* String table */
#define STR_CLIENT_RUNNING        34001
#define STR_FATAL_ERROR           34002
#define STR_FATAL_ERROR_ADVICE    34003
#define STR_CONFIRM_CANCEL        34006
#define STR_CLIENT_MODULE         34007
#define STR_GAME_PROGRAM          34008
#define STR_NEEDS_WIN95           34010
#define STR_SETUP16_PATH          34012
#define STR_NEEDS_MSIE            34013
#define STR_NEED_DISK_SPACE       34050
#define STR_GAME_PIF              34080
#define STR_OUT_OF_MEMORY         34200
#define STR_CANNOT_CONTINUE       34202
#define STR_TOO_MANY_DIALOGS      34300
#define STR_NO_DIALOG_PROC        34301
#define STR_DIALOG_FAILED         34302
#define STR_NO_SUCH_DIALOG        34303
#define STR_BOX_CAPTION           34304
#define STR_OLE_TOO_OLD           34305
#define STR_PRODUCT_CAPTION       34306
#define STR_DB_DISK_FULL          34400
#define STR_CANCEL_EXITS          34702
#define STR_INVALID_DIRECTORY     34706
#define STR_FREE_SPACE_ADVICE     34716
#define STR_DRIVE_TOO_FULL        34800
#define STR_NOT_ENOUGH_SPACE      34801
#define STR_NOT_FIRST_DISK        34802
#define STR_NEWER_QEL_REGISTERED  35000

/* Dialog templates */
#define DLG_UPDATE_PROGRESS       200
#define DLG_WELCOME               201
#define DLG_SEARCH                202
#define DLG_CONFIRM_EXIT          205
#define DLG_REVIEW                208
#define DLG_DB_PROGRESS           210
#define DLG_SETUP_STOPPED         212
#define DLG_UPDATED               213
#define DLG_NOT_FOUND             215
#define DLG_RESTART               218
#define DLG_NEXT_DISK             219
#define DLG_INSTALL_PROGRESS      220
#define DLG_INSTALLED             221
#define DLG_NOT_FINISHED          222
#define DLG_MERGE_PROGRESS_A      224
#define DLG_MERGE_PROGRESS_B      225
#define DLG_LOW_SPACE_PROGRAM     226
#define DLG_BELOW_REQUIREMENTS    227
#define DLG_MACHINE_CHECK         228

/* Buttons: every button id lies in BTN_FIRST..BTN_LAST; a modal dialog ends with the id pressed. */
#define BTN_FIRST                 400
#define BTN_UPDATE                401
#define BTN_REVIEW                402
#define BTN_EXIT                  403
#define BTN_CANCEL                406 /* also the result of the close box */
#define BTN_RESUME                407
#define BTN_OK                    408
#define BTN_RESTORE               409
#define BTN_START                 412 /* 219: install the next disk; 227: run the 16-bit setup */
#define BTN_RUN_PROGRAM           413 /* 226: run the low-space program */
#define BTN_SETUP16               414 /* 228: run the 16-bit setup */
#define BTN_LAST                  499

/* Controls addressed by the program */
#define CTL_PATH                  501 /* edit field of 208/215; searched directory in 202 */
#define CTL_GAUGE                 502 /* gauge of the progress dialogs */
#define CTL_TEXT                  503 /* text set by the modal runners; current file name */

/* Other resources */
#define RCDATA_MARKER             100
#define ICON_PROGRAM              300
#define BITMAP_BACKDROP           350

/* Window classes */
#define GAUGE_CLASS               "_QELSETUP_Gauge"
