#include "launcher/about.h"

#include "launcher/launcher.h"
#include "launcher/resource.h"
#include "tray/platform_calls.h"

#include <new>

// The LOGFONTA that GetObjectA fills for the stock system font.
static_assert(sizeof(LOGFONTA) == 60, "LOGFONTA read from the stock font");
#ifdef __i386__
static_assert(sizeof(LinkState) == 16, "four 32-bit fields on i686");
#endif

namespace {

LinkState* StateOf(HWND window) {
    return reinterpret_cast<LinkState*>(GetWindowLongPtrA(window, 0));
}

// WM_NCCREATE: FALSE when the state cannot be allocated, which stops the
// creation of the link and so of its dialog.
BOOL CreateLinkState(HWND window) {
    LinkState* state = new (std::nothrow) LinkState;
    if (state == nullptr) return FALSE;
    state->window = window;
    state->textColour = LINK_TEXT_COLOUR;
    state->backgroundColour = GetSysColor(COLOR_BTNFACE);

    // The underlined copy of the stock system font; if the stock font cannot
    // be read, the link keeps it as it is, without underline.
    state->font = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
    LOGFONTA logFont;
    if (GetObjectA(state->font, sizeof logFont, &logFont) != 0) {
        logFont.lfUnderline = 1;
        state->font = CreateFontIndirectA(&logFont);
    }
    SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(state));
    return TRUE;
}

void PaintLink(HWND window, const LinkState& state) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    HGDIOBJ previousFont = SelectObject(dc, state.font);
    SetTextColor(dc, state.textColour);
    SetBkColor(dc, state.backgroundColour);
    SetTextAlign(dc, TA_LEFT | TA_TOP);

    char text[LINK_TEXT_CAPACITY];
    const int length = GetWindowTextA(window, text, LINK_TEXT_CAPACITY);
    RECT client;
    GetClientRect(window, &client);
    SIZE extent = {0, 0};
    GetTextExtentPoint32A(dc, text, length, &extent);
    const POINT origin = CentredTextOrigin({client.right, client.bottom}, extent);

    // ETO_OPAQUE fills the whole client rectangle with the background colour,
    // which is why WM_ERASEBKGND does nothing.
    ExtTextOutA(dc, origin.x, origin.y, ETO_OPAQUE, &client, text, static_cast<UINT>(length),
                nullptr);

    SelectObject(dc, previousFont);
    EndPaint(window, &paint);
}

// A click anywhere in the client area: there is no hit test on the text.
void ClickLink(HWND window, LinkState& state) {
    // No separate "visited" colour: the creation colours are set again.
    state.textColour = LINK_TEXT_COLOUR;
    state.backgroundColour = GetSysColor(COLOR_BTNFACE);
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);

    char text[LINK_TEXT_CAPACITY];
    GetWindowTextA(window, text, LINK_TEXT_CAPACITY);
    platformCalls.ShellExecuteA(nullptr, "open", text, nullptr, nullptr, SW_SHOW);
    EndDialog(GetParent(window), 0);
}

void DestroyLinkState(HWND window, LinkState* state) {
    if (state == nullptr) return;
    DeleteObject(state->font); // does nothing for the stock font
    delete state;
    SetWindowLongPtrA(window, 0, 0);
}

} // namespace

POINT CentredTextOrigin(SIZE client, SIZE text) {
    return {(client.cx - text.cx) / 2, (client.cy - text.cy) / 2};
}

ATOM RegisterHyperlinkClass() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA linkClass = {};
    linkClass.cbSize = sizeof linkClass;
    linkClass.style = 0;
    linkClass.lpfnWndProc = LinkWindowProc;
    linkClass.cbClsExtra = 0;
    linkClass.cbWndExtra = sizeof(LinkState*); // window long 0: the LinkState
    linkClass.hInstance = instance;
    linkClass.hCursor = LoadCursorA(instance, MAKEINTRESOURCEA(IDCUR_LINK_HAND));
    linkClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    linkClass.lpszClassName = LINK_CLASS_NAME;
    return RegisterClassExA(&linkClass);
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        // The link window ignored its template text (it does not pass
        // WM_NCCREATE on), so the address it shows and opens is set here.
        SetDlgItemTextA(dialog, IDC_ABOUT_LINK, QUILLON_HOME_URL);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

LRESULT CALLBACK LinkWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LinkState* state = StateOf(window);
    switch (message) {
    case WM_NCCREATE:
        // Not passed on: the template's text is not taken over (see
        // AboutDialogProc, WM_INITDIALOG).
        return CreateLinkState(window);
    case WM_PAINT:
        if (state == nullptr) break; // no state, nothing of ours to paint: validated by default
        PaintLink(window, *state);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SETFONT:
        return 0; // the link keeps its own underlined font
    case WM_LBUTTONDOWN:
        if (state != nullptr) ClickLink(window, *state);
        return 0;
    case WM_NCDESTROY:
        DestroyLinkState(window, state);
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
