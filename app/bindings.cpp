#include "app/bridge.h"
#include "app/startup.h"
#include "app/window_functions.h"
#include "login/login.h"
#include "net/download.h"
#include "net/page_http.h"
#include "process/game.h"
#include "process/java.h"
#include "services/file_access.h"
#include "services/file_picker.h"
#include "services/listings.h"
#include "services/offline_uuid.h"
#include "services/settings.h"
#include "services/shell_links.h"
#include "services/system_info.h"
#include "zip/zip_functions.h"

// The page's native functions, bound once before the first navigation, in
// this order.
void register_bindings() {
    bind_sync("native_systemInfo", native_systemInfo);
    bind_sync("native_loadSettings", native_loadSettings);
    bind_sync("native_saveSettings", native_saveSettings);
    bind_sync("native_readText", native_readText);
    bind_sync("native_readBase64", native_readBase64);
    bind_sync("native_writeText", native_writeText);
    bind_sync("native_exists", native_exists);
    bind_sync("native_deletePath", native_deletePath);
    bind_sync("native_openPath", native_openPath);
    bind_sync("native_openUrl", native_openUrl);
    bind_sync("native_listVersions", native_listVersions);
    bind_sync("native_offlineUuid", native_offlineUuid);
    bind_sync("native_findJava", native_findJava);
    bind_async("native_http", native_http);
    bind_async("native_uploadFile", native_uploadFile);
    bind_async("native_msLogin", native_msLogin);
    bind_async("native_runJava", native_runJava);
    bind_sync("native_pickFiles", native_pickFiles);
    bind_sync("native_copyFile", native_copyFile);
    bind_sync("native_moveFile", native_moveFile);
    bind_sync("native_listDir", native_listDir);
    bind_sync("native_fileSize", native_fileSize);
    bind_async("native_zip", native_zip);
    bind_sync("native_window", native_window);
    bind_async("native_httpGet", native_httpGet);
    bind_async("native_download", native_download);
    bind_sync("native_cancel", native_cancel);
    bind_async("native_extract", native_extract);
    bind_sync("native_launch", native_launch);
    bind_sync("native_restart", native_restart);
    bind_sync("native_shellOpen", native_shellOpen);
    bind_async("native_runCapture", native_runCapture);
    bind_sync("native_setTitle", native_setTitle);
    bind_sync("native_gameRunning", native_gameRunning);
}
