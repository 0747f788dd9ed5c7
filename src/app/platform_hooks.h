#pragma once
// The table through which UI code reaches the operating system. The shell
// installs the entries at start-up; every caller tests an entry before it
// calls it and does nothing (or takes the empty result) when it is missing.
// Strings cross as UTF-8; an empty string means cancelled or nothing.
#include <cstdint>
#include <functional>
#include <string>

#include "playback/output_hook.h"

namespace korvel {

struct HttpResponse;
struct ThumbnailFrame;

struct PlatformHooks {
    std::function<void()> closeWindow;
    // Title-bar pieces: the menu button at x (x advanced past it, the new x
    // returned); the caption buttons at the right edge (their block's left
    // edge returned, in window pixels). Without a custom title bar the
    // caption-button hook stays empty.
    std::function<float(float& x, float titleHeight)> drawMenuButton;
    std::function<int(float titleHeight)> drawCaptionButtons;
    // The reference video's audio, for the mixer. The shell hands it to the
    // audio thread with SetEngineOutputHook (playback/output_hook.h) before
    // the audio output starts.
    EngineOutputHookFn EngineOutputHook = nullptr;
    std::function<std::string()> pickFolder;
    std::function<std::string()> pickExportLocation;
    std::function<std::string(const std::string& title, const std::string& extension)> openFileDialog;
    // The reference video's open dialog, with the video containers' filter.
    std::function<std::string()> openVideoDialog;
    std::function<std::string(const std::string& title, const std::string& extension)> saveFileDialog;
    std::function<void(const std::string& path)> revealInExplorer;
    std::function<void(const std::string& path)> openDocument;
    std::function<void(const std::string& url)> openUrl;
    std::function<void(HttpResponse& response, const std::string& url)> HttpGetHook;
    // Copies the window's drawn back buffer, between drawing and presenting,
    // for the project thumbnail; false when nothing could be read.
    std::function<bool(ThumbnailFrame& frame)> readBackBuffer;
};

}  // namespace korvel
