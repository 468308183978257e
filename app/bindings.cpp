#include "app/bridge.h"
#include "app/startup.h"
#include "app/window_functions.h"
#include "login/login.h"
#include "services/file_access.h"

// The page's native functions, bound once before the first navigation, in
// this order.
void register_bindings() {
    bind_sync("native_writeText", native_writeText);
    bind_async("native_msLogin", native_msLogin);
    bind_sync("native_window", native_window);
    bind_sync("native_restart", native_restart);
    bind_sync("native_setTitle", native_setTitle);
}
