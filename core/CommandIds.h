#pragma once
// Command ids of the toolbar buttons, shared by the container that owns the
// toolbar and the viewer window that carries the commands out.
enum CommandId : int {
    ID_ZOOM_IN = 123,
    ID_ZOOM_OUT = 124,
    ID_MAGNIFIER = 125,     // toggles magnifier mode
    ID_PAN = 126,           // toggles pan mode
    ID_FIT_WINDOW = 127,
    ID_FIT_WIDTH = 128,
    ID_FIT_HEIGHT = 129,
    ID_ACTUAL_SIZE = 130,   // "1:1"
    ID_PRINT = 131,
    ID_POINTER = 132,
};

// The notification code of the WM_COMMAND that the view sends its parent
// when it takes the keyboard focus, as standard controls report theirs: a
// control host becomes UI-active then.
constexpr int kViewSetFocusNotification = 0x0100;
