// The hotspot CSV: quoting, the line numbers of errors, the exact way back,
// and the checks that keep every written record readable as it was meant.
#include "HotspotCsv.h"
#include "HotspotList.h"
#include "HotspotRecord.h"
#include "HotspotRows.h"
#include "TextCodePage.h"

#include <gtest/gtest.h>

namespace {

const std::string kHeader = "left,top,right,bottom,reference,tooltip\n";

TEST(HotspotCsv, ReadsQuotedFieldsAcrossLinesAndLineEnds)
{
    const std::string text = "\xEF\xBB\xBF" "Left, Top ,right,bottom,reference,tooltip\r\n"
                             "\r\n"
                             " 10 ,20,+30,40,\"A,1\",\"He said \"\"hi\"\"\"\r\n"
                             "1,2,3,4,\"\",\"two\nlines\"\n"
                             "-5,0,7,8,\xC3\xA9,\n";
    std::vector<CsvHotspot> rows;
    CsvProblem problem;
    ASSERT_TRUE(parseHotspotCsv(text, rows, problem)) << problem.line << ": " << problem.message;
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].line, 3);
    EXPECT_EQ(rows[0].left, 10);
    EXPECT_EQ(rows[0].right, 30);
    EXPECT_EQ(rows[0].reference, "A,1");
    EXPECT_EQ(rows[0].tooltip, "He said \"hi\"");
    EXPECT_EQ(rows[1].line, 4);
    EXPECT_EQ(rows[1].reference, "");
    EXPECT_EQ(rows[1].tooltip, "two\nlines");
    EXPECT_EQ(rows[2].line, 6);
    EXPECT_EQ(rows[2].left, -5);
    EXPECT_EQ(rows[2].reference, "\xC3\xA9");
    EXPECT_EQ(rows[2].tooltip, "");
}

TEST(HotspotCsv, MalformedRowsNameTheirLine)
{
    const struct {
        std::string text;
        int line;
        const char* message;
    } cases[] = {
        {"", 1, "header row"},
        {"left,top,right,bottom,reference\n", 1, "header"},
        {"reference,left,top,right,bottom,tooltip\n", 1, "header"},
        {kHeader + "1,2,3,4,a,b\n1,2,3,4,a\n", 3, "6 fields expected, found 5"},
        {kHeader + "\n1,2,3,4,a,b,c\n", 3, "6 fields expected, found 7"},
        {kHeader + "1,2,x3,4,a,b\n", 2, "right is not a whole number"},
        {kHeader + "1,,3,4,a,b\n", 2, "top is not a whole number"},
        {kHeader + "1,2,3,4294967296,a,b\n", 2, "bottom is out of range"},
        {kHeader + "1,2,3,4,a,\"open\nstill open\n", 2, "not closed"},
        {kHeader + "1,2,3,4,\"a\"b,c\n", 2, "after the closing quote"},
        {kHeader + "1,2,3,4,a\"b,c\n", 2, "quote inside unquoted field 5"},
        {kHeader + "1,2,3,4,a,\"x\ny\"\n1,2,3,4,a,\xC3(\n", 4, "tooltip is not valid UTF-8"},
        {kHeader + "1,2,3,4,\xED\xA0\x80,b\n", 2, "reference is not valid UTF-8"},   // a surrogate
    };
    for (const auto& c : cases) {
        std::vector<CsvHotspot> rows;
        CsvProblem problem;
        ASSERT_FALSE(parseHotspotCsv(c.text, rows, problem)) << c.text;
        EXPECT_EQ(problem.line, c.line) << c.text;
        EXPECT_NE(problem.message.find(c.message), std::string::npos) << c.text << "\n" << problem.message;
    }
}

TEST(HotspotCsv, FormattedRowsReadBackExactly)
{
    std::vector<CsvHotspot> rows(3);
    rows[0] = {0, 0, 5, 5, "815", "Town hall, open \"daily\"", "", 0};
    rows[1] = {-3, 7, 2147483647, -2147483647 - 1, " spaced ", "cr\r\nlf\nend\r", "", 0};
    rows[2] = {1, 2, 3, 4, "", "", "", 0};
    for (bool withInfo : {false, true}) {
        rows[2].info = withInfo ? "note, \"quoted\"" : "";
        const std::string text = formatHotspotCsv(rows);
        EXPECT_EQ(text.compare(0, 40, "left,top,right,bottom,reference,tooltip" + std::string(withInfo ? "," : "\n")), 0);
        std::vector<CsvHotspot> back;
        CsvProblem problem;
        ASSERT_TRUE(parseHotspotCsv(text, back, problem)) << problem.message << "\n" << text;
        ASSERT_EQ(back.size(), rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(back[i].left, rows[i].left);
            EXPECT_EQ(back[i].top, rows[i].top);
            EXPECT_EQ(back[i].right, rows[i].right);
            EXPECT_EQ(back[i].bottom, rows[i].bottom);
            EXPECT_EQ(back[i].reference, rows[i].reference);
            EXPECT_EQ(back[i].tooltip, rows[i].tooltip);
            EXPECT_EQ(back[i].info, rows[i].info);
        }
        EXPECT_EQ(formatHotspotCsv(back), text);
    }
}

CsvHotspot row(int32_t l, int32_t t, int32_t r, int32_t b, std::string reference, std::string tooltip)
{
    CsvHotspot h;
    h.left = l, h.top = t, h.right = r, h.bottom = b;
    h.reference = std::move(reference), h.tooltip = std::move(tooltip);
    h.line = 7;
    return h;
}

TEST(HotspotRows, RowsThatDoNotFitTheImageOrTheFormatAreRefused)
{
    std::string tooltip500;
    for (int i = 0; i < 496; ++i)
        tooltip500 += "\xE2\x80\x93";   // an en dash: one UTF-16 unit, three UTF-8 bytes
    tooltip500 += "\xF0\x9F\x97\xBA";   // a map: two UTF-16 units
    const struct {
        CsvHotspot row;
        const char* message;   // null: accepted
    } cases[] = {
        {row(0, 0, 100, 50, std::string(100, 'r'), tooltip500 + "ab"), nullptr},   // the largest that fit
        {row(0, 0, 100, 50, std::string(101, 'r'), "t"), "reference is 101 bytes long; at most 100 fit"},
        {row(0, 0, 10, 10, "r", tooltip500 + "abc"), "tooltip is 501 UTF-16 characters long; at most 500 fit"},
        {row(-1, 0, 10, 10, "r", "t"), "lies outside the 100 x 50 image"},
        {row(0, -1, 10, 10, "r", "t"), "lies outside"},
        {row(0, 0, 101, 10, "r", "t"), "lies outside"},
        {row(0, 0, 10, 51, "r", "t"), "lies outside"},
        {row(10, 0, 10, 10, "r", "t"), "empty or inverted"},
        {row(0, 20, 10, 10, "r", "t"), "empty or inverted"},
        {row(0, 0, 10, 10, "\xE4\xB8\xAD", "t"), "ANSI code page"},   // a Chinese character, not in code page 1252
        {row(0, 0, 10, 10, std::string("a\0b", 3), "t"), "reference holds a zero character"},
        {row(0, 0, 10, 10, "r", std::string("a\0b", 3)), "tooltip holds a zero character"},
    };
    ASSERT_EQ(ansiCodePage(), 1252u) << "the cases assume the Western European ANSI code page";
    for (const auto& c : cases) {
        HotspotList list;
        CsvProblem problem;
        std::vector<CsvProblem> warnings;
        const bool ok = recordsFromRows({c.row}, 100, 50, list, problem, warnings);
        if (!c.message) {
            ASSERT_TRUE(ok) << problem.message;
            ASSERT_EQ(list.count(), 1u);
            const auto& record = static_cast<const HotspotRecord&>(**list.begin());
            EXPECT_EQ(record.reference.size(), 100u);
            EXPECT_EQ(record.text.size(), 500u);
            EXPECT_EQ(record.right, 100);
            EXPECT_EQ(record.bottom, 50);
            continue;
        }
        EXPECT_FALSE(ok) << c.message;
        EXPECT_EQ(problem.line, 7) << c.message;
        EXPECT_NE(problem.message.find(c.message), std::string::npos) << problem.message;
    }
}

TEST(HotspotRows, RecordsComeBackAsTheSameRowsAndAnEmptyReferenceIsReported)
{
    const std::vector<CsvHotspot> rows = {row(1, 2, 30, 40, "\xC3\xA9t\xC3\xA9", "Caf\xC3\xA9 \xE2\x80\x93 \xF0\x9F\x97\xBA"),
                                          row(0, 0, 100, 50, "", "hidden")};
    HotspotList list;
    CsvProblem problem;
    std::vector<CsvProblem> warnings;
    ASSERT_TRUE(recordsFromRows(rows, 100, 50, list, problem, warnings)) << problem.message;
    const auto& first = static_cast<const HotspotRecord&>(**list.begin());
    EXPECT_EQ(first.reference, "\xE9t\xE9");   // the ANSI code page (1252) bytes
    EXPECT_EQ(first.text, u"Caf\u00E9 \u2013 \U0001F5FA");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].line, 7);
    EXPECT_NE(warnings[0].message.find("no reference"), std::string::npos);

    const std::vector<CsvHotspot> back = rowsFromRecords(list);
    ASSERT_EQ(back.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(back[i].reference, rows[i].reference);
        EXPECT_EQ(back[i].tooltip, rows[i].tooltip);
        EXPECT_EQ(back[i].right, rows[i].right);
    }
}

}  // namespace
