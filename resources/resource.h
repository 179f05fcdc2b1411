/* Resource ids of the file picker: its dialog template, controls and the
   parent-entry bitmap. Shared by the resource script, the dialog and its tests. */
#ifndef PICKER_RESOURCE_H
#define PICKER_RESOURCE_H

#define IDD_FILEPICKER   105
#define IDC_ADDSELECTED  116
#define IDC_LOCATIONS    201
#define IDC_FOLDERPATH   202
#define IDC_ITEMLIST     203
#define IDB_PARENTUP     202

#endif
