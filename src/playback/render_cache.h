#pragma once
// The render cache: the live engine's voice list rebuilt from the project's
// layers, and voices matched back to their layers by id.
namespace korvel {

// Renders every layer of CurrentProject into a fresh voice list of
// LivePlaybackEngine; keepPlaceholders is handed to each layer's render.
void RebuildCache(bool keepPlaceholders);
// Re-matches every voice to its layer by id.
void RemapVoicesToResults();

}  // namespace korvel
