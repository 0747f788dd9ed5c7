#include "platform/window/file_dialogs.h"

#include <gio/gio.h>
#include <gtk/gtk.h>
#include <imgui.h>

#include <cstring>

#include "platform/file_dialog_rules.h"
#include "project/app_state.h"

namespace korvel {
namespace {

// UI thread only. GTK is started on the first dialog; a failed start (no
// display) is remembered and every later dialog returns empty.
enum class GtkStart { NotTried, Running, Failed };
GtkStart gtkStart = GtkStart::NotTried;

bool EnsureGtk() {
    if (gtkStart == GtkStart::NotTried) {
        // GTK would switch the process to the user's locale, and number
        // reading and writing rely on the C locale.
        gtk_disable_setlocale();
        gtkStart = gtk_init_check(nullptr, nullptr) ? GtkStart::Running : GtkStart::Failed;
    }
    return gtkStart == GtkStart::Running;
}

// The dialog took the mouse and keys; their releases went to it, so ImGui
// would think them still held.
void ForgetHeldInput() {
    if (ImGui::GetCurrentContext() == nullptr) return;
    ImGuiIO& io = ImGui::GetIO();
    std::memset(io.MouseDown, 0, sizeof(io.MouseDown));
    std::memset(io.KeysDown, 0, sizeof(io.KeysDown));
    io.KeyCtrl = io.KeyShift = io.KeyAlt = io.KeySuper = false;
}

// Lets GTK finish closing the dialog's window before the frame loop goes on.
void DrainGtkEvents() {
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

void AddFilter(GtkFileChooser* chooser, const std::string& extension) {
    const std::vector<std::string> patterns = FileFilterPatterns(extension);
    if (patterns.empty()) return;
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, "Files");
    for (const std::string& pattern : patterns) gtk_file_filter_add_pattern(filter, pattern.c_str());
    gtk_file_chooser_add_filter(chooser, filter);  // takes the floating reference
}

using Setup = void (*)(GtkFileChooser* chooser, const std::string& extension);

std::string RunChooser(const std::string& title, GtkFileChooserAction action, const std::string& extension,
                       Setup setup) {
    if (!EnsureGtk()) return {};
    const char* accept = action == GTK_FILE_CHOOSER_ACTION_SAVE ? "_Save"
                         : action == GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER ? "_Select"
                                                                          : "_Open";
    GtkFileChooserNative* dialog = gtk_file_chooser_native_new(title.c_str(), nullptr, action, accept, "_Cancel");
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(dialog), TRUE);
    if (setup != nullptr) setup(chooser, extension);
    std::string result;
    if (gtk_native_dialog_run(GTK_NATIVE_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        if (gchar* name = gtk_file_chooser_get_filename(chooser)) {
            result = name;
            g_free(name);
        }
    }
    g_object_unref(dialog);
    DrainGtkEvents();
    ForgetHeldInput();
    return result;
}

}  // namespace

std::string ShowOpenFileDialog(const std::string& title, const std::string& extension) {
    return RunChooser(title, GTK_FILE_CHOOSER_ACTION_OPEN, extension,
                      [](GtkFileChooser* chooser, const std::string& ext) { AddFilter(chooser, ext); });
}

std::string ShowSaveFileDialog(const std::string& title, const std::string& extension) {
    const std::string path = RunChooser(title, GTK_FILE_CHOOSER_ACTION_SAVE, extension,
                                        [](GtkFileChooser* chooser, const std::string& ext) {
                                            AddFilter(chooser, ext);
                                            gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
                                        });
    // The chooser has no default extension: a name typed without one gets it
    // here. The overwrite question covered the name as typed only.
    return AppendMissingExtension(path, extension);
}

std::string ShowVideoOpenDialog() {
    return RunChooser("Select a video file for reference", GTK_FILE_CHOOSER_ACTION_OPEN, {},
                      [](GtkFileChooser* chooser, const std::string&) {
                          for (const NamedFileFilter& named : VideoOpenFilters()) {
                              GtkFileFilter* filter = gtk_file_filter_new();
                              gtk_file_filter_set_name(filter, named.name.c_str());
                              for (const std::string& pattern : named.patterns) {
                                  gtk_file_filter_add_pattern(filter, pattern.c_str());
                              }
                              gtk_file_chooser_add_filter(chooser, filter);  // takes the floating reference
                          }
                      });
}

std::string PickFolderDialog() {
    return RunChooser("Select a folder containing audio files to scan", GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, {},
                      nullptr);
}

std::string ShowExportSaveDialog() {
    // Read on the UI thread, which owns the project path.
    static std::string proposed;
    proposed = ProposedExportName(GlobalAppState.projectPath);
    return RunChooser("Export", GTK_FILE_CHOOSER_ACTION_SAVE, {}, [](GtkFileChooser* chooser, const std::string&) {
        gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
        gtk_file_chooser_set_current_name(chooser, proposed.c_str());
    });
}

void ShellOpen(const std::string& pathOrUrl) {
    std::string uri;
    if (IsLaunchableUrl(pathOrUrl)) {
        uri = pathOrUrl;
    } else if (IsOpenableDocument(pathOrUrl)) {
        gchar* fileUri = g_filename_to_uri(pathOrUrl.c_str(), nullptr, nullptr);
        if (fileUri == nullptr) return;
        uri = fileUri;
        g_free(fileUri);
    } else {
        return;
    }
    g_app_info_launch_default_for_uri(uri.c_str(), nullptr, nullptr);
}

void RevealInExplorer(const std::string& path) {
    if (path.empty()) return;
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    if (uri == nullptr) return;
    bool shown = false;
    if (GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
        const gchar* uris[] = {uri, nullptr};
        GVariant* reply = g_dbus_connection_call_sync(
            bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1",
            "ShowItems", g_variant_new("(^ass)", uris, ""), nullptr, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
        if (reply != nullptr) {
            shown = true;
            g_variant_unref(reply);
        }
        g_object_unref(bus);
    }
    g_free(uri);
    if (shown) return;
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (gchar* folderUri = g_filename_to_uri(folder.c_str(), nullptr, nullptr)) {
        g_app_info_launch_default_for_uri(folderUri, nullptr, nullptr);
        g_free(folderUri);
    }
}

}  // namespace korvel
