// Resource and control ids of the control window.  Shared by the resource
// script (nfsd.rc) and the C++ code; only #define lines, so that every
// resource compiler reads it.
#ifndef KORVANE_UI_RESOURCE_H
#define KORVANE_UI_RESOURCE_H

// Icons.
#define IDI_MAIN 114
#define IDI_LOG_ERROR 115
#define IDI_LOG_LINE 116

// Menu bar.
#define IDM_MAIN 101

// Dialogs.
#define IDD_PAGE_NFS 102
#define IDD_EXPORTS_EDITOR 103
#define IDD_ABOUT 104
#define IDD_PAGE_SERVER 105
#define IDD_PAGE_MOUNTS 106
#define IDD_PAGE_PORTMAPPER 107
#define IDD_PAGE_EXPORTS 108
#define IDD_PAGE_LANGUAGE 109
#define IDD_LOG_VIEWER 111
#define IDD_EXPORT 112

// Menu commands.
#define CMD_VIEW_LOG 122
#define CMD_EXIT 123
#define CMD_PREFERENCES 124
#define CMD_VIEW_EXPORTS 125
#define CMD_VIEW_MOUNTS 126
#define CMD_RESOLVE 127
#define CMD_CONTENTS 128
#define CMD_ABOUT 131
#define CMD_INSERT 132
#define CMD_EDIT 133
#define CMD_REMOVE 134
#define CMD_DISCONNECT 135
#define CMD_SERVICE_START 136
#define CMD_SERVICE_STOP 137
#define CMD_SHOW 138
#define CMD_SERVICE_RESTART 139

// Main window children.
#define IDC_BOTTOM_BAR 1032
#define IDC_TOP_BAR 1069

// NFS page.
#define IDC_PORT_LABEL 1003
#define IDC_PORT 1004
#define IDC_THREADS 1005
#define IDC_DATASIZE 1008
#define IDC_TCPSIZE 1097
#define IDC_PORTMAPPER 1010
#define IDC_MOUNTPORT_LABEL 1011
#define IDC_MOUNTPORT 1012
#define IDC_INFO 1019
#define IDC_UDP 1020
#define IDC_TCP 1021
#define IDC_V2 1026
#define IDC_V3 1027
#define IDC_ANSI 1030
#define IDC_UTF8 1031
#define IDC_INODERESET 1033
#define IDC_CHARSET 1036
#define IDC_THREADS_LABEL 1040
#define IDC_DATASIZE_LABEL 1042
#define IDC_NFSMODE 1044
#define IDC_PROTOCOL 1045
#define IDC_NLM 1064
#define IDC_NLMPORT 1065
#define IDC_WEBNFS 1066

// Server page.
#define IDC_DIRCOUNT 1018
#define IDC_NFS2WRITE 1022
#define IDC_NFS3WRITE 1023
#define IDC_SOFT 1024
#define IDC_HARD 1025
#define IDC_LOWERCASE 1034
#define IDC_CREATEACCESS 1035
#define IDC_NTFS 1038
#define IDC_FILEID 1067
#define IDC_REPARSE 1068
#define IDC_PROTSPEC 1090
#define IDC_FILESPEC 1091
#define IDC_CONTEXT 1096

// Exports, mounts, port mapper and language pages.
#define IDC_LIST 1007
#define IDC_EDIT_EXPORTS 1017
#define IDC_ERROR_LINE 1032
#define IDC_SETEXEC 1037
#define IDC_FILTEREXPORTS 1062
#define IDC_MAPROOT 1063
#define IDC_UNIXATTRIBUTES 1120
#define IDC_CLIENTVIEW 1071
#define IDC_CURRENT_LABEL 1046
#define IDC_CURRENT 1006
#define IDC_AVAILABLE 1047
#define IDC_TRANSLATION 1050
#define IDC_AUTHOR 1053

// Exports file editor.
#define IDC_EXPORTS_TEXT 1058
#define IDC_STATUS 1032

// Export dialog.
#define IDC_FOLDER 1072
#define IDC_BROWSE 1074
#define IDC_OPTIONS 1075
#define IDC_CLIENTS 1076
#define IDC_OPT_READONLY 1080
#define IDC_OPT_ALLDIRS 1081
#define IDC_OPT_PUBLIC 1082
#define IDC_OPT_EXEC 1083
#define IDC_OPT_RANGE 1084
#define IDC_OPT_LOWERCASE 1085
#define IDC_OPT_NAME 1086
#define IDC_OPT_MAPROOT 1087
#define IDC_OPT_MAPALL 1088
#define IDC_OPT_UMASK 1089
#define IDC_FOLDER_LABEL 1092
#define IDC_OPTIONS_LABEL 1093
#define IDC_OPTARGS 1094
#define IDC_CLIENTS_LABEL 1095

// Log viewer.
#define IDC_LOG_LIST 1059
#define IDC_FILE_LABEL 1060
#define IDC_FILE 1061
#define IDC_PRINT 1070

// About box.
#define IDC_ABOUT_TITLE 1013
#define IDC_ABOUT_NOTICE 1014
#define IDC_ABOUT_LINK 1043

#endif
