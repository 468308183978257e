#include <gtk/gtk.h>

#include "process/game.h"

void hide_window_for_game(void* window) { gtk_widget_hide(GTK_WIDGET(window)); }

void show_window_after_game(void* window) {
    gtk_widget_show(GTK_WIDGET(window));
    gtk_window_present(GTK_WINDOW(window));
}
