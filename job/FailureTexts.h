// Why a job failed: a code the front ends can act on, and the sentence the user is shown for
// it. The sentences are plain ASCII, so they read the same in every code page.
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

// One code per sentence above, in the order a job meets them.
enum JobFailure {
    failureNone,
    failureInputUnreadable,
    failureImpulseUnreadable,
    failureSampleRatesDiffer,
    failureOutputIsAnInput,
    failureOutputTooLarge,
    failureOutputNotCreated,
    failureImpulseNotLoaded,
    failureWriteFailed,
    failureOutOfMemory,
};

// The sentence for a failure; "" for failureNone.
constexpr const char* failureText(JobFailure failure) {
    switch (failure) {
    case failureInputUnreadable:
        return kTextInputUnreadable;
    case failureImpulseUnreadable:
        return kTextImpulseUnreadable;
    case failureSampleRatesDiffer:
        return kTextSampleRatesDiffer;
    case failureOutputIsAnInput:
        return kTextOutputIsAnInput;
    case failureOutputTooLarge:
        return kTextOutputTooLarge;
    case failureOutputNotCreated:
        return kTextOutputNotCreated;
    case failureImpulseNotLoaded:
        return kTextImpulseNotLoaded;
    case failureWriteFailed:
        return kTextWriteFailed;
    case failureOutOfMemory:
        return kTextOutOfMemory;
    case failureNone:
        break;
    }
    return "";
}
