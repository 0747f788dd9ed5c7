#pragma once
// The export choices a designer sets once and keeps: read from the
// preferences and the project file, shown by the export tab, written with
// every save and handed to the export. One record, so a new option is one
// edit and no copy of it can drift.
namespace korvel {

// The defaults are also what a project gets for every key its file lacks.
struct ExportSettings {
    float handleDuration = 1.0f;          // "handleDuration", seconds each side
    bool handleFullSource = false;        // "handleFullSource": the whole source files as handles
    float fadeInDuration = 0.01f;         // "fadeInDuration", seconds
    float fadeOutDuration = 0.05f;        // "fadeOutDuration", seconds
    bool exportAAFMarkers = false;        // "exportAAFMarkers"
    bool exportAAFVolAuto = true;         // "exportAAFVolAuto"
    bool exportAAFSourceChannels = true;  // "exportAAFSourceChannels"
    bool exportFormatAAF = true;          // "exportFormatAAF"
    bool exportFormatWAV = true;          // "exportFormatWAV"
    bool exportWavMixdown = true;         // "exportWavMixdown"
    bool exportWavStems = false;          // "exportWavStems"
    bool exportWavTracks = false;         // "exportWavTracks"
    bool exportWavClips = false;          // "exportWavClips"
    bool exportReverbStem = true;         // "exportReverbStem"
};

}  // namespace korvel
