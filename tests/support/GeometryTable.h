#pragma once
// The shared table of the viewer's zoom and scroll steps
// (tests/data/view-geometry.txt): cases of a viewport and an image size,
// each a list of steps with the state expected after each.
#include <string>
#include <vector>

struct GeometryStep {
    int line = 0;                 // in the table file, for messages
    std::string name;             // paint, zoomin, ..., hscroll, resize
    std::vector<int> arguments;
    double scale = 0;
    int scaledWidth = 0, scaledHeight = 0;
    bool horizontalBar = false, verticalBar = false;
    int horizontalPosition = 0, verticalPosition = 0;
};

struct GeometryCase {
    std::string name;
    int viewportWidth = 0, viewportHeight = 0;
    int imageWidth = 0, imageHeight = 0;
    std::vector<GeometryStep> steps;
};

struct GeometryTable {
    int scrollBarSize = 0;
    std::vector<GeometryCase> cases;
};

// False, with the reason in `error`, when the file cannot be read or a line
// is malformed.
bool readGeometryTable(const std::string& path, GeometryTable& table, std::string& error);
// The toolbar command of a step (CommandIds.h), or 0 for other steps.
int geometryStepCommand(const std::string& name);
// "scale W x H bars h v positions h v" of the expected state, for messages.
std::string describeExpected(const GeometryStep& step);
