#include "GeometryTable.h"

#include "CommandIds.h"

#include <cstdio>
#include <fstream>
#include <sstream>

bool readGeometryTable(const std::string& path, GeometryTable& table, std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    table = GeometryTable();
    std::string text;
    for (int number = 1; std::getline(in, text); ++number) {
        std::istringstream line(text);
        std::string word;
        if (!(line >> word) || word[0] == '#')
            continue;
        auto fail = [&] {
            error = path + ":" + std::to_string(number) + ": cannot read \"" + text + "\"";
            return false;
        };
        if (word == "scrollbar") {
            if (!(line >> table.scrollBarSize))
                return fail();
        } else if (word == "case") {
            GeometryCase c;
            if (!(line >> c.name >> c.viewportWidth >> c.viewportHeight >> c.imageWidth >> c.imageHeight))
                return fail();
            table.cases.push_back(c);
        } else {
            if (table.cases.empty())
                return fail();
            GeometryStep step;
            step.line = number;
            step.name = word;
            std::string arrow;
            while (line >> arrow && arrow != "->")
                step.arguments.push_back(std::stoi(arrow));
            int h = 0, v = 0;
            if (arrow != "->" || !(line >> step.scale >> step.scaledWidth >> step.scaledHeight >> h >> v >>
                                   step.horizontalPosition >> step.verticalPosition))
                return fail();
            step.horizontalBar = h != 0;
            step.verticalBar = v != 0;
            table.cases.back().steps.push_back(step);
        }
    }
    return true;
}

int geometryStepCommand(const std::string& name)
{
    if (name == "zoomin") return ID_ZOOM_IN;
    if (name == "zoomout") return ID_ZOOM_OUT;
    if (name == "fitwindow") return ID_FIT_WINDOW;
    if (name == "fitwidth") return ID_FIT_WIDTH;
    if (name == "fitheight") return ID_FIT_HEIGHT;
    if (name == "actual") return ID_ACTUAL_SIZE;
    return 0;
}

std::string describeExpected(const GeometryStep& step)
{
    char text[160];
    std::snprintf(text, sizeof text, "line %d %s: scale %.6f, %d x %d, bars %d %d, positions %d %d", step.line,
                  step.name.c_str(), step.scale, step.scaledWidth, step.scaledHeight, step.horizontalBar,
                  step.verticalBar, step.horizontalPosition, step.verticalPosition);
    return text;
}
