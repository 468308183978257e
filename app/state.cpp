#include "app/state.h"

MainWebview main_webview;
void* main_window = nullptr;
