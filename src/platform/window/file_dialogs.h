#pragma once
// The file dialogs and shell calls behind PlatformHooks. The dialogs run
// modally on the UI thread and block the frame loop while they are open;
// each returns a UTF-8 path, or empty when nothing was chosen or no dialog
// could be shown (no display).
#include <string>

namespace korvel {

std::string ShowOpenFileDialog(const std::string& title, const std::string& extension);
std::string ShowSaveFileDialog(const std::string& title, const std::string& extension);
std::string PickFolderDialog();
// "Select a video file for reference", with the video containers' filter
// and "All Files".
std::string ShowVideoOpenDialog();
// Proposes the open project's file name (ProposedExportName).
std::string ShowExportSaveDialog();

// Shows the file selected in the file manager, else opens its folder.
void RevealInExplorer(const std::string& path);
// Opens an existing regular file, or an https:// address, with the
// desktop's default handler; anything else is ignored. Silent on failure.
void ShellOpen(const std::string& pathOrUrl);

}  // namespace korvel
