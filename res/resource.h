#ifndef HALVENOR_RESOURCE_H
#define HALVENOR_RESOURCE_H

/* Shared by halvenor.rc and the C++ sources: plain #defines only, so windres can read it. */

#define IDS_TITLE              1
#define IDS_NOT_APPLICABLE     2
#define IDS_ALREADY_ENABLED    4
#define IDS_ENABLE_PROMPT      6
#define IDS_RESTART_PROMPT     8
#define IDS_RESTART_CAPTION    9
#define IDS_WRITE_FAILED       11
#define IDS_ERROR_CAPTION      12
#define IDS_AGREEMENT_HEADING  13

#define IDI_HALVENOR           102
#define IDD_AGREEMENT          103

/* The dialog ends with the id of the button pressed, so these double as its results. */
#define IDC_AGREE              1000
#define IDC_DISAGREE           1001
#define IDC_TERMS              1002
#define IDC_HEADING            1003

/* The terms text is the one resource named by a string ("IDR_LICENSE" of type "TXT");
   it deliberately has no #define here, or the resource compiler would turn it into a number. */

#endif
