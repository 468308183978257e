// The GTK file chooser driven for real under a private X server: the test
// answers the dialog from inside the process, as a user would.
#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <functional>

#include "app/state.h"
#include "services/file_picker.h"
#include "support/temp_dir.h"
#include "support/xvfb_posix.h"

namespace fs = std::filesystem;

namespace {

struct Seen {
    std::string title;
    bool modal = false;
    bool owned = false;
    bool multiple = false;
    std::vector<std::string> filters;
    bool answered = false;
};

// What the "user" does with the dialog once it is up.
struct Script {
    std::vector<fs::path> select;  // empty: cancel
    bool all_shown = false;        // select what the filter shows instead
    size_t expect = 0;             // selected names to wait for
    Seen seen;
    GtkFileChooser* chooser = nullptr;
    guint timer = 0;
    int ticks = 0;
};

size_t selected(GtkFileChooser* c) {
    GSList* files = gtk_file_chooser_get_filenames(c);
    size_t n = g_slist_length(files);
    g_slist_free_full(files, g_free);
    return n;
}

gboolean respond_accept(gpointer data) {
    auto* s = static_cast<Script*>(data);
    if (selected(s->chooser) < s->expect) {
        // The folder finished loading meanwhile and reset the selection:
        // select again and wait for the next change.
        s->seen.answered = false;
        return G_SOURCE_REMOVE;
    }
    gtk_dialog_response(GTK_DIALOG(s->chooser), GTK_RESPONSE_ACCEPT);
    return G_SOURCE_REMOVE;
}

void on_selection(GtkFileChooser* c, gpointer data) {
    auto* s = static_cast<Script*>(data);
    if (s->seen.answered) return;
    if (selected(c) < s->expect) return;
    s->seen.answered = true;
    // Answering inside this signal crashes GTK: answer from an idle call.
    g_idle_add(respond_accept, s);
}

gboolean find_dialog(gpointer data) {
    auto* s = static_cast<Script*>(data);
    if (++s->ticks > 400) {  // 20 s: give up instead of hanging
        if (s->chooser) gtk_dialog_response(GTK_DIALOG(s->chooser), GTK_RESPONSE_CANCEL);
        s->timer = 0;
        return G_SOURCE_REMOVE;
    }
    if (s->chooser) {
        // Selecting several names one by one is undone when the folder
        // finishes loading; select everything the filter shows instead.
        if (s->all_shown && !s->seen.answered && selected(s->chooser) < s->expect)
            gtk_file_chooser_select_all(s->chooser);
        return G_SOURCE_CONTINUE;
    }
    GList* tops = gtk_window_list_toplevels();
    for (GList* it = tops; it; it = it->next) {
        if (GTK_IS_FILE_CHOOSER_DIALOG(it->data) && gtk_widget_get_visible(GTK_WIDGET(it->data))) {
            s->chooser = GTK_FILE_CHOOSER(it->data);
            break;
        }
    }
    g_list_free(tops);
    if (!s->chooser) return G_SOURCE_CONTINUE;

    GtkWindow* w = GTK_WINDOW(s->chooser);
    s->seen.title = gtk_window_get_title(w);
    s->seen.modal = gtk_window_get_modal(w);
    s->seen.owned = gtk_window_get_transient_for(w) == main_window;
    s->seen.multiple = gtk_file_chooser_get_select_multiple(s->chooser);
    GSList* filters = gtk_file_chooser_list_filters(s->chooser);
    for (GSList* f = filters; f; f = f->next) s->seen.filters.push_back(gtk_file_filter_get_name(GTK_FILE_FILTER(f->data)));
    g_slist_free(filters);

    if (s->select.empty()) {
        s->seen.answered = true;
        gtk_dialog_response(GTK_DIALOG(s->chooser), GTK_RESPONSE_CANCEL);
        return G_SOURCE_CONTINUE;
    }
    g_signal_connect(s->chooser, "selection-changed", G_CALLBACK(on_selection), s);
    gtk_file_chooser_set_current_folder(s->chooser, s->select.front().parent_path().c_str());
    if (!s->all_shown)
        for (auto& p : s->select) gtk_file_chooser_select_filename(s->chooser, p.c_str());
    return G_SOURCE_CONTINUE;
}

class Picker : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        display = new XvfbDisplay();
        gtk_init(nullptr, nullptr);
    }
    static void TearDownTestSuite() {
        delete display;
        display = nullptr;
    }
    void SetUp() override {
        window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_widget_show(window);
        main_window = window;
        for (auto n : {"a.txt", "b.txt", "Мир.mcworld", "c.log"}) std::ofstream(tmp.path() / n) << n;
    }
    void TearDown() override {
        main_window = nullptr;
        gtk_widget_destroy(window);
    }

    json pick(const json& args, Script& s) {
        s.timer = g_timeout_add(50, find_dialog, &s);
        json r = native_pickFiles(args);
        if (s.timer) g_source_remove(s.timer);
        return r;
    }

    static XvfbDisplay* display;
    GtkWidget* window = nullptr;
    TempDir tmp;
};
XvfbDisplay* Picker::display = nullptr;

TEST_F(Picker, OneFileWithTheDefaults) {
    Script s;
    s.select = {tmp.path() / "Мир.mcworld"};
    s.expect = 1;
    json r = pick(json::array(), s);
    EXPECT_EQ(r, json::array({(tmp.path() / "Мир.mcworld").string()}));
    EXPECT_EQ(s.seen.title, "Выберите файлы");
    EXPECT_TRUE(s.seen.modal);
    EXPECT_TRUE(s.seen.owned) << "shown over the main window";
    EXPECT_TRUE(s.seen.multiple);
    EXPECT_EQ(s.seen.filters, (std::vector<std::string>{"Файлы", "Все файлы"}));
}

TEST_F(Picker, SeveralFilesWithThePagesFilter) {
    Script s;
    s.select = {tmp.path() / "a.txt", tmp.path() / "b.txt"};
    s.all_shown = true;  // the page's filter shows only these two
    s.expect = 2;
    json r = pick(json::parse(R"(["Тексты", "Текст", "*.TXT", true])"), s);
    std::vector<std::string> got = r.get<std::vector<std::string>>();
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::string>{(tmp.path() / "a.txt").string(), (tmp.path() / "b.txt").string()}));
    EXPECT_EQ(s.seen.title, "Тексты");
    EXPECT_EQ(s.seen.filters, (std::vector<std::string>{"Текст", "Все файлы"}));
}

TEST_F(Picker, SingleSelectionGivesAtMostOnePath) {
    Script s;
    s.select = {tmp.path() / "a.txt", tmp.path() / "b.txt"};
    s.expect = 1;
    json r = pick(json::parse(R"(["Один", "Все", "*.*", false])"), s);
    EXPECT_FALSE(s.seen.multiple);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_TRUE(r[0] == (tmp.path() / "a.txt").string() || r[0] == (tmp.path() / "b.txt").string()) << r;
}

TEST_F(Picker, CancelGivesAnEmptyList) {
    Script s;
    EXPECT_EQ(pick(json::array(), s), json::array());
    EXPECT_TRUE(s.seen.answered);
}

}  // namespace
