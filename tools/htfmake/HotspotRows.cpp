#include "HotspotRows.h"

#include "HotspotList.h"
#include "HotspotRecord.h"
#include "HotspotStream.h"
#include "TextCodePage.h"

#include <memory>

namespace {

bool narrowField(const std::string& utf8, const char* name, int line, std::string& ansi, CsvProblem& problem)
{
    if (utf8.find('\0') != std::string::npos)
        return problem = {line, std::string("the ") + name + " holds a zero character"}, false;
    if (!ansiFromUtf8(utf8, ansi))
        return problem = {line, std::string("the ") + name + " has characters that the ANSI code page (" +
                                    std::to_string(ansiCodePage()) + ") cannot hold"},
               false;
    if (ansi.size() > hotspotstream::kMaxNarrowBytes)
        return problem = {line, std::string("the ") + name + " is " + std::to_string(ansi.size()) +
                                    " bytes long; at most " + std::to_string(hotspotstream::kMaxNarrowBytes) +
                                    " fit"},
               false;
    return true;
}

}  // namespace

bool recordsFromRows(const std::vector<CsvHotspot>& rows, uint32_t width, uint32_t height, HotspotList& list,
                     CsvProblem& problem, std::vector<CsvProblem>& warnings)
{
    for (const CsvHotspot& row : rows) {
        const std::string rect = std::to_string(row.left) + "," + std::to_string(row.top) + "," +
                                 std::to_string(row.right) + "," + std::to_string(row.bottom);
        if (row.left >= row.right || row.top >= row.bottom)
            return problem = {row.line, "the rectangle " + rect + " is empty or inverted (left < right and "
                                                                  "top < bottom are needed)"},
                   false;
        if (row.left < 0 || row.top < 0 || int64_t(row.right) > int64_t(width) || int64_t(row.bottom) > int64_t(height))
            return problem = {row.line, "the rectangle " + rect + " lies outside the " + std::to_string(width) +
                                            " x " + std::to_string(height) + " image"},
                   false;
        auto record = std::make_unique<HotspotRecord>();
        if (!narrowField(row.reference, "reference", row.line, record->reference, problem) ||
            !narrowField(row.info, "info", row.line, record->info, problem))
            return false;
        if (row.tooltip.find('\0') != std::string::npos)
            return problem = {row.line, "the tooltip holds a zero character"}, false;
        record->text = utf16FromUtf8(row.tooltip);
        const size_t maxUnits = hotspotstream::kMaxWideBytes / 2;
        if (record->text.size() > maxUnits)
            return problem = {row.line, "the tooltip is " + std::to_string(record->text.size()) +
                                            " UTF-16 characters long; at most " + std::to_string(maxUnits) + " fit"},
                   false;
        if (record->reference.empty())
            warnings.push_back({row.line, "the hotspot has no reference: the viewer will not show it"});
        record->left = row.left, record->top = row.top, record->right = row.right, record->bottom = row.bottom;
        list.append(std::move(record));
    }
    return true;
}

std::vector<CsvHotspot> rowsFromRecords(const HotspotList& list)
{
    std::vector<CsvHotspot> rows;
    for (const auto& element : list) {
        if (std::string(element->className()) != HotspotRecord::kClassName)
            continue;
        const auto& record = static_cast<const HotspotRecord&>(*element);
        CsvHotspot row;
        row.left = record.left, row.top = record.top, row.right = record.right, row.bottom = record.bottom;
        row.reference = utf8FromAnsi(record.reference);
        row.info = utf8FromAnsi(record.info);
        row.tooltip = utf8FromUtf16(record.text);
        rows.push_back(std::move(row));
    }
    return rows;
}
