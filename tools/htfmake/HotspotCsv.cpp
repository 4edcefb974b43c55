#include "HotspotCsv.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace {

const char* const kColumns[] = {"left", "top", "right", "bottom", "reference", "tooltip", "info"};
constexpr size_t kRequiredColumns = 6;

struct Row {
    int line = 0;
    std::vector<std::string> fields;
    bool quoted = false;   // some field was quoted (a row "" is not an empty line)
};

std::string trimmed(const std::string& s)
{
    size_t first = 0, last = s.size();
    while (first < last && (s[first] == ' ' || s[first] == '\t'))
        ++first;
    while (last > first && (s[last - 1] == ' ' || s[last - 1] == '\t'))
        --last;
    return s.substr(first, last - first);
}

bool validUtf8(const std::string& s)
{
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t extra;
        uint32_t code;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1, code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2, code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3, code = c & 0x07;
        } else {
            return false;
        }
        if (s.size() - i <= extra)
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80)
                return false;
            code = code << 6 | (d & 0x3F);
        }
        // Overlong forms, surrogates and values above U+10FFFF are not UTF-8.
        if ((extra == 2 && code < 0x800) || (extra == 3 && code < 0x10000) || code > 0x10FFFF ||
            (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

// Splits the text into rows of fields. False with the problem on a quoting error.
bool splitRows(const std::string& text, std::vector<Row>& rows, CsvProblem& problem)
{
    size_t i = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const size_t n = text.size();
    int line = 1;
    while (i < n) {
        Row row;
        row.line = line;
        for (;;) {
            std::string field;
            if (text[i] == '"') {
                row.quoted = true;
                ++i;
                for (;;) {
                    if (i >= n)
                        return problem = {row.line, "a quoted field is not closed"}, false;
                    const char c = text[i++];
                    if (c == '"') {
                        if (i < n && text[i] == '"')
                            field += '"', ++i;
                        else
                            break;
                    } else {
                        if (c == '\n')
                            ++line;
                        field += c;
                    }
                }
                const bool rowEnds = i >= n || text[i] == '\n' || text.compare(i, 2, "\r\n") == 0;
                if (!rowEnds && text[i] != ',')
                    return problem = {line, "text after the closing quote of field " +
                                                std::to_string(row.fields.size() + 1)},
                           false;
            } else {
                while (i < n && text[i] != ',' && text[i] != '\n') {
                    if (text[i] == '"')
                        return problem = {line, "a quote inside unquoted field " +
                                                    std::to_string(row.fields.size() + 1) +
                                                    " (quote the whole field and double the quote)"},
                               false;
                    field += text[i++];
                }
                if (!field.empty() && field.back() == '\r' && (i >= n || text[i] == '\n'))
                    field.pop_back();
            }
            row.fields.push_back(std::move(field));
            if (i < n && text[i] == ',') {
                ++i;
                if (i >= n || text[i] == '\n' || text.compare(i, 2, "\r\n") == 0) {
                    row.fields.emplace_back();   // a trailing comma ends with an empty field
                    break;
                }
                continue;
            }
            break;
        }
        if (i < n && text[i] == '\r')
            ++i;
        if (i < n && text[i] == '\n')
            ++i, ++line;
        if (!(row.fields.size() == 1 && row.fields[0].empty() && !row.quoted))
            rows.push_back(std::move(row));
    }
    return true;
}

bool parseEdge(const std::string& field, const char* name, int line, int32_t& value, CsvProblem& problem)
{
    const std::string digits = trimmed(field);
    const bool wellFormed = !digits.empty() &&
                            digits.find_first_not_of("0123456789", digits[0] == '-' || digits[0] == '+') ==
                                std::string::npos &&
                            digits.size() > size_t(digits[0] == '-' || digits[0] == '+');
    if (!wellFormed)
        return problem = {line, std::string(name) + " is not a whole number: \"" + field + "\""}, false;
    errno = 0;
    const long long v = std::strtoll(digits.c_str(), nullptr, 10);
    if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
        return problem = {line, std::string(name) + " is out of range: " + digits}, false;
    value = int32_t(v);
    return true;
}

bool needsQuotes(const std::string& s)
{
    return s.find_first_of(",\"\r\n") != std::string::npos;
}

std::string csvField(const std::string& s)
{
    if (!needsQuotes(s))
        return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + '"';
}

}  // namespace

bool parseHotspotCsv(const std::string& text, std::vector<CsvHotspot>& out, CsvProblem& problem)
{
    out.clear();
    std::vector<Row> rows;
    if (!splitRows(text, rows, problem))
        return false;
    std::string expected;
    for (size_t c = 0; c < kRequiredColumns; ++c)
        expected += (c ? "," : "") + std::string(kColumns[c]);
    if (rows.empty())
        return problem = {1, "the header row " + expected + " is missing"}, false;

    const Row& header = rows.front();
    size_t columns = header.fields.size();
    bool headerOk = columns == kRequiredColumns || columns == kRequiredColumns + 1;
    for (size_t c = 0; headerOk && c < columns; ++c) {
        std::string name = trimmed(header.fields[c]);
        for (char& ch : name)
            ch = char(std::tolower(static_cast<unsigned char>(ch)));
        headerOk = name == kColumns[c];
    }
    if (!headerOk)
        return problem = {header.line, "the first row must be the header " + expected + " (optionally ,info)"}, false;

    for (size_t r = 1; r < rows.size(); ++r) {
        const Row& row = rows[r];
        if (row.fields.size() != columns)
            return problem = {row.line, std::to_string(columns) + " fields expected, found " +
                                            std::to_string(row.fields.size())},
                   false;
        CsvHotspot h;
        h.line = row.line;
        if (!parseEdge(row.fields[0], "left", row.line, h.left, problem) ||
            !parseEdge(row.fields[1], "top", row.line, h.top, problem) ||
            !parseEdge(row.fields[2], "right", row.line, h.right, problem) ||
            !parseEdge(row.fields[3], "bottom", row.line, h.bottom, problem))
            return false;
        h.reference = row.fields[4];
        h.tooltip = row.fields[5];
        if (columns > kRequiredColumns)
            h.info = row.fields[6];
        for (size_t c = 4; c < columns; ++c) {
            if (!validUtf8(row.fields[c]))
                return problem = {row.line, std::string("the ") + kColumns[c] + " is not valid UTF-8"}, false;
        }
        out.push_back(std::move(h));
    }
    return true;
}

std::string formatHotspotCsv(const std::vector<CsvHotspot>& rows)
{
    bool withInfo = false;
    for (const CsvHotspot& h : rows)
        withInfo = withInfo || !h.info.empty();
    std::string out = withInfo ? "left,top,right,bottom,reference,tooltip,info\n"
                               : "left,top,right,bottom,reference,tooltip\n";
    for (const CsvHotspot& h : rows) {
        out += std::to_string(h.left) + ',' + std::to_string(h.top) + ',' + std::to_string(h.right) + ',' +
               std::to_string(h.bottom) + ',' + csvField(h.reference) + ',' + csvField(h.tooltip);
        if (withInfo)
            out += ',' + csvField(h.info);
        out += '\n';
    }
    return out;
}
