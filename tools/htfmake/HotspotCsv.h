#pragma once
// The hotspot list as authors write it: a UTF-8 CSV file with the header row
// "left,top,right,bottom,reference,tooltip" (optionally followed by ",info"),
// one hotspot a row, coordinates in image pixels. Fields may be quoted; a
// quoted field may hold commas, line breaks and doubled quotes.
#include <cstdint>
#include <string>
#include <vector>

struct CsvHotspot {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    std::string reference;   // UTF-8
    std::string tooltip;     // UTF-8
    std::string info;        // UTF-8; written as a seventh column only when some row has one
    int line = 0;            // line of the file where the row starts (1-based); 0 when not read from a file
};

// A problem in the file: the line it was found on and what is wrong.
struct CsvProblem {
    int line = 0;
    std::string message;
};

// Reads the whole text. On the first malformed row returns false with the
// problem; `rows` is then incomplete and must not be used.
bool parseHotspotCsv(const std::string& text, std::vector<CsvHotspot>& rows, CsvProblem& problem);

// The text parseHotspotCsv reads back to the same rows: "\n" line ends, a
// field quoted only when it needs to be.
std::string formatHotspotCsv(const std::vector<CsvHotspot>& rows);
