// The About box (dialog 103) and its hyperlink control, window class
// "CustCtrl345": blue underlined text centred on the button face, a pointing
// hand cursor, and a left click that opens the text through the shell and
// closes the dialog that holds the link.
#ifndef LAUNCHER_ABOUT_H
#define LAUNCHER_ABOUT_H

#include <windows.h>

// Registered class name of the link control; the dialog template names it too.
constexpr char LINK_CLASS_NAME[] = "CustCtrl345";

// Per-window state of a link, hung on window long 0: allocated on
// WM_NCCREATE, freed (with its font) on WM_NCDESTROY. Two colours and two
// handles (16 bytes on i686).
struct LinkState {
    COLORREF textColour;       // RGB(0, 0, 255)
    COLORREF backgroundColour; // GetSysColor(COLOR_BTNFACE) when made
    HFONT font;                // underlined copy of the stock system font, owned;
                               // the stock font itself when no copy could be made
    HWND window;               // the link window itself
};

constexpr COLORREF LINK_TEXT_COLOUR = RGB(0, 0, 255);
// Longest link text painted and opened, terminator included.
constexpr int LINK_TEXT_CAPACITY = 200;

// Dialog procedure of the About box: TRUE for the messages it handles.
// Esc (IDCANCEL) is deliberately not handled, so it leaves the box open.
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

LRESULT CALLBACK LinkWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Top-left corner that centres text of size `text` in a client area of size
// `client`; negative when the text is larger (it is then cut at the edges).
POINT CentredTextOrigin(SIZE client, SIZE text);

#endif
