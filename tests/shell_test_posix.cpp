// Shell opening for real: a recorder program is registered in private XDG
// folders for the game's link schemes, web links, add-on files and
// folders; allowed targets must reach it, refused ones never.
#include <gtest/gtest.h>

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <thread>

#include "app/helpers.h"
#include "app/state.h"
#include "services/file_access.h"
#include "services/shell_links.h"
#include "support/file_helpers.h"
#include "support/temp_dir.h"
#include "support/xvfb_posix.h"

namespace fs = std::filesystem;

namespace {

XvfbDisplay* display = nullptr;
fs::path log_file;
bool have_mime_types = false;

// Set up before GIO reads any of it; GIO caches what it finds.
class ShellEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        display = new XvfbDisplay();  // also a private HOME and XDG_* folders
        fs::path home = display->home();
        fs::path data = home / "data", config = home / "config";
        log_file = home / "opened.log";
        fs::path recorder = exe_dir() / "shell_recorder";

        put(data / "applications" / "quorvel-recorder.desktop",
              "[Desktop Entry]\nType=Application\nName=Recorder\nNoDisplay=true\n"
              "Exec=\"" + recorder.string() + "\" \"" + log_file.string() + "\" %u\n"
              "MimeType=x-scheme-handler/minecraft;x-scheme-handler/minecraft-preview;x-scheme-handler/https;"
              "x-scheme-handler/http;application/x-quorvel-addon;inode/directory;\n");
        std::string defaults = "[Default Applications]\n";
        for (const char* type : {"x-scheme-handler/minecraft", "x-scheme-handler/minecraft-preview",
                                 "x-scheme-handler/https", "x-scheme-handler/http", "application/x-quorvel-addon",
                                 "inode/directory"})
            defaults += std::string(type) + "=quorvel-recorder.desktop\n";
        put(config / "mimeapps.list", defaults);

        // The add-on extensions as a file type of their own.
        put(data / "mime" / "packages" / "quorvel-addons.xml",
              "<?xml version=\"1.0\"?>\n"
              "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
              "  <mime-type type=\"application/x-quorvel-addon\"><comment>add-on</comment>\n"
              "    <glob pattern=\"*.mcpack\"/><glob pattern=\"*.mcaddon\"/>\n"
              "    <glob pattern=\"*.mcworld\"/><glob pattern=\"*.mctemplate\"/>\n"
              "  </mime-type>\n</mime-info>\n");
        std::string cmd = "update-mime-database '" + (data / "mime").string() + "' >/dev/null 2>&1";
        have_mime_types = std::system(cmd.c_str()) == 0;
        gtk_init(nullptr, nullptr);
    }
    void TearDown() override {
        delete display;
        display = nullptr;
    }
};
const auto* env = ::testing::AddGlobalTestEnvironment(new ShellEnvironment);

std::vector<std::string> logged() {
    std::ifstream in(log_file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The launched recorder runs on its own; wait (generously) for its line.
std::vector<std::string> wait_for_lines(size_t n) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (logged().size() < n && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return logged();
}

// A local file or folder reaches the handler as its path.
std::string uri_of(const fs::path& p) { return p.string(); }

json open(const std::string& target) { return native_shellOpen(json::array({target})); }

class Shell : public ::testing::Test {
protected:
    void SetUp() override { fs::remove(log_file); }
    TempDir tmp;
};

TEST_F(Shell, LinksReachTheirHandlerAndRefusedOnesNever) {
    EXPECT_EQ(open("Minecraft:refused"), false);
    EXPECT_EQ(open(" minecraft:refused"), false);
    EXPECT_EQ(open("HTTPS://refused.invalid/"), false);
    EXPECT_EQ(open(""), false);
    EXPECT_EQ(open("ms-windows-store://pdp"), false) << "nothing handles this scheme here";

    EXPECT_EQ(open("minecraft:"), true);
    EXPECT_EQ(wait_for_lines(1), std::vector<std::string>{"minecraft:"});
    EXPECT_EQ(open("minecraft-preview://launch?x=1"), true);
    EXPECT_EQ(open("https://example.invalid/a?b=c"), true);
    EXPECT_EQ(open("http://example.invalid/"), true);
    auto lines = wait_for_lines(4);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"http://example.invalid/", "https://example.invalid/a?b=c",
                                               "minecraft-preview://launch?x=1", "minecraft:"}));
}

TEST_F(Shell, AddOnFilesAndFoldersReachTheirHandler) {
    if (!have_mime_types) GTEST_SKIP() << "update-mime-database is not installed";
    auto pack = tmp.path() / "Набор.MCPACK";
    auto world = tmp.path() / "world.mcworld";
    std::ofstream(pack) << "PK";
    fs::create_directories(world);
    std::ofstream(tmp.path() / ".mcpack") << "x";
    std::ofstream(tmp.path() / "tool.zip") << "x";

    EXPECT_EQ(open((tmp.path() / ".mcpack").string()), false);
    EXPECT_EQ(open((tmp.path() / "tool.zip").string()), false);
    EXPECT_EQ(open((tmp.path() / "missing.mcpack").string()), false);
    EXPECT_EQ(open(pack.string()), true);
    EXPECT_EQ(wait_for_lines(1), std::vector<std::string>{uri_of(pack)});
    EXPECT_EQ(open(world.string()), true);
    EXPECT_EQ(wait_for_lines(2), (std::vector<std::string>{uri_of(pack), uri_of(world)}));
}

TEST(DesktopUri, OnlyTheKnownLinksAreAddressesAnythingElseIsAPath) {
    // A folder may be called "notes:today"; it must not reach a "notes" handler.
    EXPECT_EQ(desktop_uri("/tmp/notes:today"), "file:///tmp/notes:today");
    EXPECT_EQ(desktop_uri("notes:today").rfind("file:///", 0), 0u);
    EXPECT_EQ(desktop_uri("minecraft://x\xff"), "minecraft://x\xEF\xBF\xBD");
    EXPECT_EQ(desktop_uri(""), "");
}

TEST_F(Shell, TheMainWindowIsTheOwnerWhenThereIsOne) {
    GtkWidget* w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_show(w);
    main_window = w;
    EXPECT_EQ(open("minecraft://owned"), true);
    EXPECT_EQ(open("ms-windows-store://pdp"), false);
    main_window = nullptr;
    gtk_widget_destroy(w);
    EXPECT_EQ(wait_for_lines(1), std::vector<std::string>{"minecraft://owned"});
}

TEST_F(Shell, OpenPathMakesTheFolderAndOpenUrlTakesOnlyWebLinks) {
    auto folder = tmp.path() / "новая" / "папка";
    EXPECT_EQ(native_openPath(json::array({folder.string()})), true);
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(wait_for_lines(1), std::vector<std::string>{uri_of(folder)});
    EXPECT_EQ(native_openUrl(json::array({"minecraft:not-a-web-link"})), true);
    EXPECT_EQ(native_openUrl(json::array({"https://example.invalid/ok"})), true);
    EXPECT_EQ(wait_for_lines(2), (std::vector<std::string>{uri_of(folder), "https://example.invalid/ok"}));
}

}  // namespace
