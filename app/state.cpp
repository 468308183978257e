#include "app/state.h"

// Never destroyed: detached threads may still settle calls while the process exits.
MainWebview& main_webview = *new MainWebview;
void* main_window = nullptr;
