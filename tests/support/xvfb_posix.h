// A private X server for GUI tests: starts "Xvfb -displayfd" on a free
// display, points DISPLAY at it and gives the process a quiet desktop
// environment (no session bus, no accessibility bridge, in-memory settings,
// UTF-8 locale, fresh HOME and XDG_* folders). The destructor stops the
// server and removes the folders. Create it on the main thread, before any
// GTK call; the server also dies with that thread.
#pragma once

#include <string>

class XvfbDisplay {
public:
    XvfbDisplay();
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    // ":N"
    const std::string& name() const { return name_; }
    // The temporary HOME (XDG_* folders live under it).
    const std::string& home() const { return home_; }

private:
    int pid_ = -1;
    std::string name_;
    std::string home_;
};
