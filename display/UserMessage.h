#pragma once
// Every message the module shows the user goes through one replaceable sink.
// By default it is a real message box; programs run from a terminal, where
// nobody can press OK, print the messages instead and carry on.
#include <windows.h>

// Shows (or prints) one message; returns what MessageBoxA would return.
using UserMessageSink = int (*)(HWND owner, const char* text, const char* caption, UINT type);

int showUserMessage(HWND owner, const char* text, const char* caption, UINT type);

// Replaces the sink for the whole process; null restores the message box.
void setUserMessageSink(UserMessageSink sink);

// Makes every message a line "caption: text" on stderr (a missing caption
// prints as "Error", the message box's own default) answered with OK.
void printUserMessagesToStderr();
