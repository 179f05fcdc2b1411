/* Resource ids of the control: what the resource scripts define and the code
   (and its tests) looks up. Plain #defines, because the resource compiler
   reads this file too. */
#ifndef TAVRINE_RESOURCE_H
#define TAVRINE_RESOURCE_H

/* Registry scripts run by DllRegisterServer and DllUnregisterServer. */
#define IDR_APPID_SCRIPT 101
#define IDR_CLASS_SCRIPT 103

/* The file picker: its dialog template, controls and the parent-entry bitmap. */
#define IDD_FILEPICKER   105
#define IDC_ADDSELECTED  116
#define IDC_LOCATIONS    201
#define IDC_FOLDERPATH   202
#define IDC_ITEMLIST     203
#define IDB_PARENTUP     202

/* The install dialog: its template and controls. */
#define IDD_INSTALL          203
#define IDC_INSTALL_PROGRESS 205
#define IDC_INSTALL_STATUS   206

#endif
