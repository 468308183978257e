#include <gtk/gtk.h>
#include <sys/stat.h>

#include "app/helpers.h"
#include "app/state.h"
#include "services/file_picker.h"

namespace {

// GTK takes only valid UTF-8: bad bytes become U+FFFD, as at Windows calls.
std::string clean(const std::string& s) { return utf16_to_utf8(utf8_to_utf16(s)); }

GtkFileFilter* make_filter(const std::string& name, const std::string& pattern) {
    GtkFileFilter* f = gtk_file_filter_new();
    gtk_file_filter_set_name(f, clean(name).c_str());
    for (const auto& g : picker_globs(clean(pattern))) gtk_file_filter_add_pattern(f, g.c_str());
    return f;
}

bool is_existing_file(const char* p) {
    struct stat st {};
    return ::stat(p, &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

json native_pickFiles(const json& args) {
    PickerRequest r = picker_request(args);
    json out = json::array();
    // No display (a headless run): there is no dialog to show.
    if (!gdk_display_get_default()) return out;

    GtkWindow* owner = static_cast<GtkWindow*>(main_window);
    GtkWidget* dlg = gtk_file_chooser_dialog_new(clean(r.title).c_str(), owner, GTK_FILE_CHOOSER_ACTION_OPEN,
                                                 "_Отмена", GTK_RESPONSE_CANCEL, "_Открыть", GTK_RESPONSE_ACCEPT,
                                                 nullptr);
    gtk_window_set_modal(GTK_WINDOW(dlg), TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dlg), GTK_RESPONSE_ACCEPT);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dlg);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    gtk_file_chooser_set_select_multiple(chooser, r.multiple ? TRUE : FALSE);
    GtkFileFilter* page_filter = make_filter(r.filter_name, r.pattern);
    gtk_file_chooser_add_filter(chooser, page_filter);
    gtk_file_chooser_add_filter(chooser, make_filter("Все файлы", "*.*"));
    gtk_file_chooser_set_filter(chooser, page_filter);

    if (gtk_dialog_run(GTK_DIALOG(dlg)) == GTK_RESPONSE_ACCEPT) {
        GSList* files = gtk_file_chooser_get_filenames(chooser);
        for (GSList* it = files; it; it = it->next) {
            auto* name = static_cast<char*>(it->data);
            // Only files that are there when the dialog closes, as on Windows.
            if (is_existing_file(name) && (r.multiple || out.empty())) out.push_back(std::string(name));
            g_free(name);
        }
        g_slist_free(files);
    }
    gtk_widget_destroy(dlg);
    return out;
}
