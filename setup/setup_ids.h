/* Resource and control ids of the setup dialog. Plain defines so that the
   resource script can include this file as well as the C++ code. */
#ifndef ZQ_SETUP_IDS_H
#define ZQ_SETUP_IDS_H

#define IDD_SETUP 100 /* dialog template */
#define IDB_PRODUCT 1 /* product picture */
#define IDI_PRODUCT 1 /* program icon */

#define IDC_OK 1             /* IDOK: start the installation */
#define IDC_EXIT 2           /* IDCANCEL: leave */
#define IDC_BROWSE 7         /* "..." opens the folder browser */
#define IDC_TITLE 101        /* title line in the large font */
#define IDC_TARGET_LABEL 102 /* "Install to:" */
#define IDC_TARGET 103       /* target folder edit box */
#define IDC_LANGUAGE_GROUP 104
#define IDC_START_MENU 105 /* create the Start-menu entry */
#define IDC_DESKTOP 106    /* create the desktop icon */
#define IDC_PROGRESS 107   /* name of the file being extracted */
#define IDC_PICTURE (-1)   /* the product picture, bitmap IDB_PRODUCT */
#define IDC_GERMAN 201
#define IDC_ENGLISH 202
#define IDC_ADDITIONAL 203

/* The picture's frame in dialog units. */
#define PICTURE_WIDTH 137
#define PICTURE_HEIGHT 95

#endif
