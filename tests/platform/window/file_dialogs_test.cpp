#include "platform/window/file_dialogs.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <string>

namespace korvel {
namespace {

// Closes every toplevel GTK window, as a user dismissing the dialog would.
gboolean CloseDialogs(gpointer) {
    GList* windows = gtk_window_list_toplevels();
    for (GList* w = windows; w != nullptr; w = w->next) {
        if (gtk_widget_get_visible(GTK_WIDGET(w->data))) gtk_window_close(GTK_WINDOW(w->data));
    }
    g_list_free(windows);
    return G_SOURCE_CONTINUE;
}

// Without a display GTK cannot start: every dialog returns empty at once
// instead of blocking or ending the program. Run in a child process, as the
// first GTK start in a process is the one that counts.
TEST(FileDialogsDeathTest, WithoutADisplayEveryDialogIsCancelled) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            const bool empty = ShowOpenFileDialog("Open Korvel Project", "kvproj").empty() &&
                               ShowSaveFileDialog("Save Korvel Project", "kvproj").empty() &&
                               PickFolderDialog().empty() && ShowExportSaveDialog().empty();
            std::exit(empty ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

// Under the virtual display each dialog really opens, and is dismissed.
TEST(FileDialogs, DismissedDialogsReturnEmpty) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr);
    const guint timer = g_timeout_add(300, CloseDialogs, nullptr);
    EXPECT_EQ(ShowOpenFileDialog("Open Korvel Project", "kvproj"), "");
    EXPECT_EQ(ShowOpenFileDialog("Import Pro Tools Session Text", "txt"), "");
    EXPECT_EQ(ShowSaveFileDialog("Save Korvel Project As", "kvproj"), "");
    EXPECT_EQ(PickFolderDialog(), "");
    EXPECT_EQ(ShowExportSaveDialog(), "");
    g_source_remove(timer);
}

}  // namespace
}  // namespace korvel
