// Messages of the DIB error codes.
#include "Dib.h"
#include "UserMessage.h"

const char* dibErrorMessage(int code)
{
    static const char* const messages[] = {
        "Not a Windows DIB file!",
        "Couldn't allocate memory!",
        "Error reading file!",
        "Error locking memory!",
        "Error opening file!",
        "Error creating palette!",
        "Error getting a DC!",
        "Error creating Device Dependent Bitmap",
        "StretchBlt() failed!",
        "StretchDIBits() failed!",
        "SetDIBitsToDevice() failed!",
        "Printer: StartDoc failed!",
        "Printing: GetModuleHandle() couldn't find GDI!",
        "Printer: SetAbortProc failed!",
        "Printer: StartPage failed!",
        "Printer: NEWFRAME failed!",
        "Printer: EndPage failed!",
        "Printer: EndDoc failed!",
        "SetDIBits() failed!",
        "File Not Found!",
        "Invalid Handle",
        "General Error on call to DIB function",
    };
    if (code < 0 || code >= int(sizeof messages / sizeof messages[0]))
        return "Undefined Error!";
    return messages[code];
}

void showDibError(int code)
{
    showUserMessage(nullptr, dibErrorMessage(code), nullptr, MB_ICONSTOP | MB_OK);
}
