// The language keys of every control, menu and caption.
#include "ui/text_keys.h"

#include "ui/resource.h"

namespace {

const ControlTextKey NFS_PAGE[] = {
    {IDC_PROTOCOL, "PROTOCOL"},      {IDC_V2, "V2"},           {IDC_V3, "V3"},
    {IDC_NFSMODE, "NFSMode"},        {IDC_UDP, "UDP"},         {IDC_TCP, "TCP"},
    {IDC_PORT_LABEL, "NFSPORT"},     {IDC_MOUNTPORT_LABEL, "MOUNTPORT"}, {IDC_WEBNFS, "WEBNFS"},
    {IDC_NLM, "NLMPORT"},            {IDC_PORTMAPPER, "PORTMAP"}, {IDC_THREADS_LABEL, "THREADS"},
    {IDC_DATASIZE_LABEL, "BLOCKSIZE"}, {IDC_INODERESET, "INODERESET"}, {IDC_CHARSET, "CHARSET"},
    {IDC_ANSI, "ANSI"},              {IDC_UTF8, "UTF8"},       {IDC_INFO, "INFO"},
};
const ControlTextKey SERVER_PAGE[] = {
    {IDC_PROTSPEC, "PROTSPEC"}, {IDC_NFS2WRITE, "NFS2WRITE"},       {IDC_NFS3WRITE, "NFS3WRITE"},
    {IDC_FILESPEC, "FILESPEC"}, {IDC_FILEID, "FILEID"},             {IDC_LOWERCASE, "LOWERCASE"},
    {IDC_DIRCOUNT, "DIRCOUNT"}, {IDC_CREATEACCESS, "CREATEACCESS"}, {IDC_SOFT, "SOFT"},
    {IDC_REPARSE, "REPARSE"},   {IDC_NTFS, "NTFS"},                 {IDC_HARD, "HARD"},
    {IDC_CONTEXT, "CONTEXT"},
};
const ControlTextKey EXPORTS_PAGE[] = {
    {IDC_CLIENTVIEW, "CLIENTVIEW"}, {IDC_EDIT_EXPORTS, "EXPORTS"}, {IDC_FILTEREXPORTS, "FILTEREXPORTS"},
    {IDC_SETEXEC, "SETEXEC"},       {IDC_MAPROOT, "MAPROOT"},       {IDC_UNIXATTRIBUTES, "UNIXATTRIBUTES"},
};
const ControlTextKey MOUNTS_PAGE[] = {{IDC_CLIENTVIEW, "CLIENTVIEW"}};
const ControlTextKey LANGUAGE_PAGE[] = {
    {IDC_CURRENT_LABEL, "LANGUAGE"}, {IDC_AVAILABLE, "AVAILABLE"}, {IDC_TRANSLATION, "TRANSLATION"}};
const ControlTextKey EXPORTS_EDITOR[] = {{1, "SAVE"}, {2, "CANCEL"}};
const ControlTextKey EXPORT_DIALOG[] = {
    {1, "SAVE"},                        {2, "CANCEL"},                 {IDC_FOLDER_LABEL, "FOLDER"},
    {IDC_OPTIONS_LABEL, "OPTIONS"},     {IDC_OPTARGS, "OPTARGS"},      {IDC_CLIENTS_LABEL, "CLIENTS"},
    {IDC_OPT_ALLDIRS, "OPTALLDIRS"},    {IDC_OPT_EXEC, "OPTEXEC"},     {IDC_OPT_LOWERCASE, "OPTLOWERCASE"},
    {IDC_OPT_PUBLIC, "OPTPUBLIC"},      {IDC_OPT_READONLY, "OPTREADONLY"}, {IDC_OPT_NAME, "OPTNAME"},
    {IDC_OPT_MAPROOT, "OPTMAPROOT"},    {IDC_OPT_MAPALL, "OPTMAPALL"}, {IDC_OPT_UMASK, "OPTUMASK"},
    {IDC_OPT_RANGE, "OPTRANGE"},
};
const ControlTextKey LOG_VIEWER[] = {{IDC_FILE_LABEL, "FILE"}, {IDC_PRINT, "PRINT"}};

#define KEYS(table) table, sizeof(table) / sizeof(table[0])

}  // namespace

const DialogTextKeys DialogTexts[] = {
    {IDD_PAGE_NFS, "NFS", KEYS(NFS_PAGE)},
    {IDD_PAGE_SERVER, "Server", KEYS(SERVER_PAGE)},
    {IDD_PAGE_EXPORTS, "Exports", KEYS(EXPORTS_PAGE)},
    {IDD_PAGE_MOUNTS, "Mounts", KEYS(MOUNTS_PAGE)},
    {IDD_PAGE_PORTMAPPER, "PortMapper", nullptr, 0},
    {IDD_PAGE_LANGUAGE, "Language", KEYS(LANGUAGE_PAGE)},
    {IDD_EXPORTS_EDITOR, "EDIT", KEYS(EXPORTS_EDITOR)},
    {IDD_EXPORT, "CONTEXT", KEYS(EXPORT_DIALOG)},
    {IDD_LOG_VIEWER, "PROTOCOL", KEYS(LOG_VIEWER)},
};
const size_t DialogTextCount = sizeof(DialogTexts) / sizeof(DialogTexts[0]);

const DialogTextKeys *FindDialogTexts(int resource)
{
    for (size_t i = 0; i < DialogTextCount; i++)
        if (DialogTexts[i].resource == resource)
            return &DialogTexts[i];
    return nullptr;
}

const ControlTextKey TopMenuKeys[] = {{0, "FILE"}, {1, "EDIT"}, {2, "VIEW"}, {3, "HELP"}};
const size_t TopMenuKeyCount = 4;
const ControlTextKey MenuItemKeys[] = {
    {CMD_VIEW_LOG, "LOG"},         {CMD_EXIT, "EXIT"},         {CMD_PREFERENCES, "MENU"},
    {CMD_VIEW_EXPORTS, "EXPORTS"}, {CMD_VIEW_MOUNTS, "MOUNTS"}, {CMD_RESOLVE, "NAMES"},
    {CMD_CONTENTS, "CONTENTS"},    {CMD_ABOUT, "ABOUT"},
};
const size_t MenuItemKeyCount = sizeof(MenuItemKeys) / sizeof(MenuItemKeys[0]);
