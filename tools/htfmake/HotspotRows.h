#pragma once
// Between the rows of a hotspot CSV file (UTF-8) and the hotspot records of a
// document (references in the ANSI code page, tooltips in UTF-16), with the
// checks that make every written record readable as it was meant.
#include "HotspotCsv.h"

class HotspotList;

// Appends one record per row. Fails on the first row whose rectangle is empty,
// inverted or not inside the image, whose reference or info does not fit the
// format (at most 100 bytes in the ANSI code page) or whose tooltip does not
// (at most 500 UTF-16 code units), or whose text holds a zero character.
// Rows without a reference are written but reported in `warnings`: the viewer
// never shows them.
bool recordsFromRows(const std::vector<CsvHotspot>& rows, uint32_t imageWidth, uint32_t imageHeight,
                     HotspotList& list, CsvProblem& problem, std::vector<CsvProblem>& warnings);

// The rows of the list's hotspot records, in list order (line numbers 0).
std::vector<CsvHotspot> rowsFromRecords(const HotspotList& list);
