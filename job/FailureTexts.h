// The sentences a failed job leaves in JobState::errorText, shown to the user as they are.
// Plain ASCII, so they read the same in every code page.
#pragma once

constexpr char kTextInputUnreadable[] = "Impossibile aprire il file di input";
constexpr char kTextImpulseUnreadable[] = "Impossibile aprire il file dell'impulso";
constexpr char kTextSampleRatesDiffer[] =
    "I file di input e di impulso devono avere la stessa frequenza di campionamento";
constexpr char kTextOutputNotCreated[] = "Impossibile creare il file di output";
constexpr char kTextImpulseNotLoaded[] = "Impossibile caricare l'impulso";
constexpr char kTextOutputIsAnInput[] =
    "Il file di output deve essere diverso dal file di input e dal file dell'impulso";
constexpr char kTextOutputTooLarge[] =
    "Il file di output supererebbe i 4 GB ammessi dal formato WAV";
constexpr char kTextWriteFailed[] = "Errore durante la scrittura del file di output";
constexpr char kTextOutOfMemory[] = "Memoria insufficiente per l'elaborazione";
