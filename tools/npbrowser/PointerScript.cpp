#include "PointerScript.h"

#include "StandInBrowser.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>

namespace {

// A pointer message with the given keys at a client point of `window`, as
// the system delivers it: the cursor moves there and the window under it, or
// the window holding the capture, gets the message.
void pointerWithKeys(HWND window, POINT client, UINT message, WPARAM keys)
{
    POINT local;
    HWND target = pointerTarget(window, client, local);
    PostMessageA(target, message, keys, MAKELPARAM(local.x, local.y));
    pumpMessagesFor(0);
}

// A toolbar button click: WM_COMMAND from the plug-in's toolbar to the
// window that holds it (the plug-in's window).
void toolbarCommand(HWND window, int id)
{
    HWND toolbar = FindWindowExA(window, nullptr, TOOLBARCLASSNAMEA, nullptr);
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(toolbar));
}

}  // namespace

bool parseNumberPair(const char* text, char separator, long& a, long& b)
{
    char* end = nullptr;
    a = std::strtol(text, &end, 10);
    if (end == text || *end != separator)
        return false;
    const char* second = end + 1;
    b = std::strtol(second, &end, 10);
    return end != second && *end == '\0';
}

PointerScript::PointerScript(const char* program, bool withDrags, bool checkedWait)
    : program_(program), withDrags_(withDrags), checkedWait_(checkedWait)
{
}

bool PointerScript::takes(const std::string& option) const
{
    if (option == "--move" || option == "--click" || option == "--key" || option == "--wait" ||
        option == "--screenshot")
        return true;
    return withDrags_ && (option == "--press" || option == "--release" || option == "--command" ||
                          option == "--mark" || option == "--wait-file");
}

bool PointerScript::add(const std::string& option, const char* value)
{
    const char* program = program_.c_str();
    if (option == "--move" || option == "--click" || option == "--press" || option == "--release") {
        long a = 0, b = 0;
        if (!parseNumberPair(value, ',', a, b))
            return std::fprintf(stderr, "%s: bad point %s\n", program, value), false;
        const ScriptStep::Kind kind = option == "--move"    ? ScriptStep::Move
                                      : option == "--click" ? ScriptStep::Click
                                      : option == "--press" ? ScriptStep::Press
                                                            : ScriptStep::Release;
        steps_.push_back({kind, {a, b}, 0, {}});
    } else if (option == "--key") {
        ScriptStep step{ScriptStep::Key, {}, 0, {}};
        if (!parseKeyStroke(value, step.key))
            return std::fprintf(stderr, "%s: bad key %s\n", program, value), false;
        steps_.push_back(step);
    } else if (option == "--command") {
        char* end = nullptr;
        const long id = std::strtol(value, &end, 10);
        if (end == value || *end != '\0' || id < 1 || id > 0xFFFF)
            return std::fprintf(stderr, "%s: bad command id %s\n", program, value), false;
        steps_.push_back({ScriptStep::Command, {}, 0, {}, int(id)});
    } else if (option == "--wait") {
        char* end = nullptr;
        const unsigned long ms = std::strtoul(value, &end, 10);
        if (checkedWait_ && (end == value || *end != '\0' || ms > 600000))
            return std::fprintf(stderr, "%s: bad wait %s\n", program, value), false;
        steps_.push_back({ScriptStep::Wait, {}, DWORD(ms), {}});
    } else {
        const ScriptStep::Kind kind = option == "--screenshot" ? ScriptStep::Screenshot
                                      : option == "--mark"     ? ScriptStep::Mark
                                                               : ScriptStep::WaitFile;
        steps_.push_back({kind, {}, 0, value});
    }
    return true;
}

void PointerScript::run(HWND window) const
{
    bool buttonDown = false;   // between --press and --release
    for (const ScriptStep& step : steps_) {
        switch (step.kind) {
        case ScriptStep::Move:
            if (buttonDown)
                pointerWithKeys(window, step.point, WM_MOUSEMOVE, MK_LBUTTON);
            else
                pointerMove(window, step.point);
            pumpMessagesFor(50);
            break;
        case ScriptStep::Press:
            pointerWithKeys(window, step.point, WM_MOUSEMOVE, buttonDown ? MK_LBUTTON : 0);
            pointerWithKeys(window, step.point, WM_LBUTTONDOWN, MK_LBUTTON);
            buttonDown = true;
            pumpMessagesFor(50);
            break;
        case ScriptStep::Release:
            pointerWithKeys(window, step.point, WM_MOUSEMOVE, MK_LBUTTON);
            pointerWithKeys(window, step.point, WM_LBUTTONUP, 0);
            buttonDown = false;
            pumpMessagesFor(50);
            break;
        case ScriptStep::Command:
            toolbarCommand(window, step.command);
            pumpMessagesFor(50);
            break;
        case ScriptStep::Click:
            pointerClick(window, step.point);
            pumpMessagesFor(50);
            break;
        case ScriptStep::Key:
            pressKey(window, step.key);
            pumpMessagesFor(50);
            break;
        case ScriptStep::Wait:
            pumpMessagesFor(step.milliseconds);
            break;
        case ScriptStep::Screenshot:
            pumpMessagesFor(50);
            if (saveScreenshot(window, step.path))
                std::printf("screenshot: %s\n", step.path.c_str());
            else
                std::fprintf(stderr, "%s: cannot save %s\n", program_.c_str(), step.path.c_str());
            break;
        case ScriptStep::Mark:
            pumpMessagesFor(50);
            if (FILE* mark = std::fopen(step.path.c_str(), "wb"))
                std::fclose(mark);
            break;
        case ScriptStep::WaitFile:
            for (int i = 0; i < 600 && GetFileAttributesA(step.path.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
                pumpMessagesFor(100);
            break;
        }
        std::fflush(stdout);
    }
}
