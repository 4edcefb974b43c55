#include "UserMessage.h"

#include <cstdio>

namespace {

int messageBoxSink(HWND owner, const char* text, const char* caption, UINT type)
{
    return MessageBoxA(owner, text, caption, type);
}

// The answer a user would give by pressing the box's default button.
int defaultAnswer(UINT type)
{
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return IDOK;
    case MB_ABORTRETRYIGNORE:
        return IDABORT;
    case MB_YESNOCANCEL:
    case MB_YESNO:
        return IDYES;
    case MB_RETRYCANCEL:
        return IDRETRY;
    default:
        return IDOK;
    }
}

int stderrSink(HWND, const char* text, const char* caption, UINT type)
{
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "Error", text ? text : "");
    std::fflush(stderr);
    return defaultAnswer(type);
}

UserMessageSink currentSink = messageBoxSink;

} // namespace

int showUserMessage(HWND owner, const char* text, const char* caption, UINT type)
{
    return currentSink(owner, text, caption, type);
}

void setUserMessageSink(UserMessageSink sink)
{
    currentSink = sink ? sink : messageBoxSink;
}

void printUserMessagesToStderr()
{
    setUserMessageSink(stderrSink);
}
