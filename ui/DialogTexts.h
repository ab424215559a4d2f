// The words and fixed numbers of the dialog. Texts are plain ASCII, so they read the same
// in every code page.
#pragma once

#include <cstdint>

constexpr char kStartLabel[] = "&Avvia";
constexpr char kStopLabel[] = "&Ferma";
constexpr char kErrorCaption[] = "Errore";
constexpr char kDoneQuestion[] = "Fatto! Vuoi ascoltare il file prodotto?";
constexpr char kDoneCaption[] = ":-)";
// The chooser's only filter, as the platform wants it: pairs of strings ending in an
// empty one (the literal's own terminator closes the list).
constexpr char kWaveFilter[] = "Wave file (*.wav)\0*.wav\0";
constexpr char kPlayVerb[] = "play";

constexpr uintptr_t kTimerId = 1;
constexpr uint32_t kTimerPeriodMs = 250;
constexpr int32_t kBarRange = 10000; // the bar runs from 0 to this
