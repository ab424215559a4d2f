// The words and numbers the command line prints: Italian digit grouping and decimal comma,
// the saturation warning, and the reasons under a failure sentence.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>

#include "cli/FailureReason.h"
#include "cli/Report.h"

TEST(Report, CountsAreGroupedByThreeWithDots) {
    const struct {
        uint64_t count;
        const char* text;
    } rows[] = {
        {0, "0"},
        {7, "7"},
        {999, "999"},
        {1000, "1.000"},
        {12345, "12.345"},
        {999999, "999.999"},
        {1234567, "1.234.567"},
        {18446744073709551615u, "18.446.744.073.709.551.615"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(italianCount(row.count), row.text);
    }
}

TEST(Report, SaturationIsReportedWithItsCountAndPeak) {
    const struct {
        uint64_t count;
        float peak;
        const char* line;
    } rows[] = {
        {0, 0.0f, ""},
        {1, 1.0f, "attenzione: 1 campione saturato, picco +0,0 dB oltre il fondo scala"},
        {12345, static_cast<float>(std::pow(10.0, 4.2 / 20.0)),
         "attenzione: 12.345 campioni saturati, picco +4,2 dB oltre il fondo scala"},
        {2, 10.0f, "attenzione: 2 campioni saturati, picco +20,0 dB oltre il fondo scala"},
        {1500000, 1.953125f,
         "attenzione: 1.500.000 campioni saturati, picco +5,8 dB oltre il fondo scala"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(saturationLine(row.count, row.peak), row.line);
    }
}

TEST(Report, ShortFilesAreSaidWithTheirCounts) {
    EXPECT_EQ(shortDataLine("l'input", 28, 132300),
              "attenzione: l'input contiene 28 frame dei 132.300 dichiarati; il resto e' letto "
              "come silenzio");
    EXPECT_EQ(shortDataLine("l'impulso", 0, 1), "attenzione: l'impulso contiene 0 frame dei 1 "
                                                "dichiarati; il resto e' letto come silenzio");
    EXPECT_EQ(shortDataLine("l'input", 5, 5), "");
    EXPECT_EQ(shortStreamLine(1000, 2500),
              "attenzione: l'output contiene 1.000 frame dei 2.500 che la sua intestazione "
              "dichiara");
    EXPECT_EQ(shortStreamLine(7, 7), "");
}

TEST(Report, ReasonsNameWhatTheSystemAndTheFileSay) {
    EXPECT_EQ(systemErrorReason(ENOENT, roleInput), "il file non esiste");
    EXPECT_EQ(systemErrorReason(ENOENT, roleOutput), "la cartella non esiste");
    EXPECT_EQ(systemErrorReason(EACCES, roleInput), "permesso negato");
    EXPECT_EQ(systemErrorReason(EISDIR, roleOutput), "e' una cartella, non un file");
    EXPECT_EQ(systemErrorReason(ENOSPC, roleOutput), "il disco e' pieno");
    EXPECT_EQ(systemErrorReason(EFBIG, roleOutput),
              "raggiunto il limite alla dimensione dei file (ulimit -f)");
    EXPECT_EQ(systemErrorReason(EAGAIN, roleOutput, "out.wav"),
              "il file e' in uso da un altro processo");
    EXPECT_EQ(systemErrorReason(EPIPE, roleOutput, "-"),
              "il programma che legge l'output ha chiuso la pipe");
    EXPECT_EQ(systemErrorReason(EISDIR, roleOutput, "nosuchdir/"),
              "il nome finisce con '/', come quello di una cartella");
    EXPECT_EQ(systemErrorReason(ENOENT, roleOutput, ""), "il nome del file e' vuoto");
    EXPECT_EQ(systemErrorReason(99999, roleInput), "errore di sistema numero 99999");

    WavDiagnosis diagnosis{};
    EXPECT_EQ(wavProblemReason(diagnosis), "");
    diagnosis.problem = wavNotPcm;
    diagnosis.formatTag = 0x55;
    EXPECT_EQ(wavProblemReason(diagnosis), "il formato non e' PCM semplice: codice formato 85");
    diagnosis.formatTag = 0xFFFE;
    diagnosis.subFormat = 3;
    diagnosis.bitsPerSample = 32;
    diagnosis.channels = 1;
    EXPECT_EQ(wavProblemReason(diagnosis),
              "il formato non e' PCM semplice: codice formato 0xFFFE (esteso, "
              "WAVE_FORMAT_EXTENSIBLE), campioni in virgola mobile a 32 bit");
    diagnosis.problem = wavNoBlockAlign;
    EXPECT_EQ(wavProblemReason(diagnosis), "l'allineamento dei blocchi (nBlockAlign) e' 0");
    diagnosis.problem = wavCannotOpen;
    diagnosis.systemError = EACCES;
    EXPECT_EQ(wavProblemReason(diagnosis), "permesso negato");
}
