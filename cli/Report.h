// Numbers as an Italian reader writes them, and the warning after a job that saturated.
#pragma once

#include <cstdint>
#include <string>

// 12345 as "12.345": a dot between groups of three digits.
std::string italianCount(uint64_t count);
// 1234.56 as "1.234,6": one decimal, rounded, after a comma, the whole part grouped.
// value >= 0.
std::string italianDecimal(double value);

// "attenzione: 12.345 campioni saturati, picco +4,2 dB oltre il fondo scala": how many
// output samples had to be clamped and how far the largest went past full scale (peak is a
// magnitude, 1.0 = full scale). Empty when none was.
std::string saturationLine(uint64_t saturatedSamples, float peak);

// "attenzione: l'input contiene 28 frame dei 132.300 dichiarati; il resto e' letto come
// silenzio": a file (what: "l'input", "l'impulso") that holds fewer whole frames than its
// header declares. Empty when it holds them all.
std::string shortDataLine(const char* what, uint32_t held, uint32_t declared);

// The note after a job whose output went to a pipe and ended before the frames its header
// announced: empty when it holds them all.
std::string shortStreamLine(uint32_t written, uint32_t promised);
