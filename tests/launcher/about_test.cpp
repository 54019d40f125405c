// The About box and its link control against the real dialog template 103:
// the box is run modally and scripted from a thread timer inside its loop.
#include "launcher/about.h"
#include "launcher/launcher.h"
#include "launcher/resource.h"
#include "tray/platform_calls.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

std::vector<std::pair<std::string, std::string>> opened; // verb, file
HINSTANCE WINAPI RecordOpen(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                            LPCSTR directory, INT show) {
    EXPECT_EQ(owner, nullptr);
    EXPECT_EQ(parameters, nullptr);
    EXPECT_EQ(directory, nullptr);
    EXPECT_EQ(show, SW_SHOW);
    opened.emplace_back(verb, file);
    return reinterpret_cast<HINSTANCE>(42);
}

// The script runs once the box is shown, from a thread timer that the
// dialog's modal loop serves; every script closes the box.
std::function<void(HWND box)> script;
UINT_PTR pendingTimer;
void CALLBACK RunScript(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    pendingTimer = 0;
    HWND box = FindWindowA("#32770", " About Quillon");
    if (box == nullptr || !IsWindowVisible(box)) {
        pendingTimer = SetTimer(nullptr, 0, 20, RunScript); // not shown yet
        return;
    }
    UpdateWindow(box);
    script(box);
}

class AboutTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { RegisterHyperlinkClass(); }
    void SetUp() override {
        saved = platformCalls;
        platformCalls.ShellExecuteA = RecordOpen;
        opened.clear();
    }
    void TearDown() override { platformCalls = saved; }
    // Runs the box modally with `body` as its first script step.
    INT_PTR Run(std::function<void(HWND)> body) {
        script = std::move(body);
        pendingTimer = SetTimer(nullptr, 0, 20, RunScript);
        const INT_PTR result = DialogBoxParamA(
            GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), nullptr, AboutDialogProc, 0);
        if (pendingTimer != 0) KillTimer(nullptr, pendingTimer);
        return result;
    }
    PlatformCalls saved;
};

TEST(LinkLayoutTest, TextIsCentredWithDivisionTowardZero) {
    const struct {
        SIZE client, text;
        POINT origin;
    } rows[] = {
        {{100, 20}, {40, 10}, {30, 5}},
        {{101, 21}, {40, 10}, {30, 5}},
        {{40, 10}, {40, 10}, {0, 0}},
        {{10, 10}, {15, 13}, {-2, -1}}, // wider and taller: cut at the edges
        {{0, 0}, {7, 3}, {-3, -1}},
    };
    for (const auto& row : rows) {
        const POINT origin = CentredTextOrigin(row.client, row.text);
        EXPECT_EQ(origin.x, row.origin.x) << row.client.cx << "," << row.text.cx;
        EXPECT_EQ(origin.y, row.origin.y) << row.client.cy << "," << row.text.cy;
    }
}

TEST_F(AboutTest, BoxShowsItsControlsAndTheLinkKeepsItsOwnState) {
    std::string link, product;
    LinkState state = {};
    LOGFONTA linkFont = {};
    HFONT fontAfterSetFont = nullptr;
    char className[64] = "";
    const INT_PTR result = Run([&](HWND box) {
        char text[256];
        HWND linkWindow = GetDlgItem(box, IDC_ABOUT_LINK);
        GetWindowTextA(linkWindow, text, sizeof text);
        link = text;
        GetClassNameA(linkWindow, className, sizeof className);
        state = *reinterpret_cast<LinkState*>(GetWindowLongPtrA(linkWindow, 0));
        GetObjectA(state.font, sizeof linkFont, &linkFont);
        // The dialog's font does not reach the link.
        SendMessageA(linkWindow, WM_SETFONT,
                     reinterpret_cast<WPARAM>(GetStockObject(ANSI_VAR_FONT)), TRUE);
        fontAfterSetFont = reinterpret_cast<LinkState*>(GetWindowLongPtrA(linkWindow, 0))->font;
        GetDlgItemTextA(box, IDOK, text, sizeof text);
        product = text;
        EXPECT_NE(GetDlgItem(box, IDC_ABOUT_ICON), nullptr);
        EXPECT_EQ(GetWindowLongA(linkWindow, GWL_STYLE) & WS_TABSTOP, 0);
        EndDialog(box, 7);
    });
    EXPECT_EQ(result, 7);
    EXPECT_EQ(link, QUILLON_HOME_URL);
    EXPECT_STRCASEEQ(className, LINK_CLASS_NAME);
    EXPECT_EQ(product, "OK");
    EXPECT_EQ(state.textColour, 0x00FF0000u);
    EXPECT_EQ(state.backgroundColour, GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(linkFont.lfUnderline, 1);
    EXPECT_EQ(fontAfterSetFont, state.font);
}

TEST_F(AboutTest, LinkPaintsBlueTextCentredOnTheButtonFace) {
    int blue = 0, face = 0;
    COLORREF corners[2] = {};
    int blueLeft = 1000, blueRight = -1;
    LONG width = 0;
    Run([&](HWND box) {
        HWND linkWindow = GetDlgItem(box, IDC_ABOUT_LINK);
        RECT client;
        GetClientRect(linkWindow, &client);
        width = client.right;
        // Paint into a bitmap through the link's own WM_PAINT: capture the
        // window after an update.
        RedrawWindow(linkWindow, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        HDC dc = GetDC(linkWindow);
        for (LONG y = 0; y < client.bottom; ++y) {
            for (LONG x = 0; x < client.right; ++x) {
                const COLORREF pixel = GetPixel(dc, x, y);
                if (pixel == RGB(0, 0, 255)) {
                    ++blue;
                    blueLeft = std::min<int>(blueLeft, x);
                    blueRight = std::max<int>(blueRight, x);
                } else if (pixel == GetSysColor(COLOR_BTNFACE)) {
                    ++face;
                }
            }
        }
        corners[0] = GetPixel(dc, 0, 0);
        corners[1] = GetPixel(dc, client.right - 1, client.bottom - 1);
        ReleaseDC(linkWindow, dc);
        EndDialog(box, 0);
    });
    EXPECT_GT(blue, 50);
    EXPECT_GT(face, blue);
    // ETO_OPAQUE fills the whole control, edges included, with the button face.
    EXPECT_EQ(corners[0], GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(corners[1], GetSysColor(COLOR_BTNFACE));
    // Centred: the margins left and right of the text differ by a pixel or two.
    const int leftMargin = blueLeft;
    const int rightMargin = static_cast<int>(width) - 1 - blueRight;
    EXPECT_LE(std::abs(leftMargin - rightMargin), 3) << leftMargin << " " << rightMargin;
}

TEST_F(AboutTest, EscapeLeavesTheBoxOpenAndOkClosesIt) {
    bool openAfterEscape = false;
    const INT_PTR result = Run([&](HWND box) {
        SendMessageA(box, WM_COMMAND, IDCANCEL, 0);
        SendMessageA(box, WM_KEYDOWN, VK_ESCAPE, 0);
        openAfterEscape = IsWindowVisible(box) != 0;
        SendMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
    EXPECT_TRUE(openAfterEscape);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(opened.empty());
}

TEST_F(AboutTest, CloseButtonClosesWithZero) {
    EXPECT_EQ(Run([](HWND box) { SendMessageA(box, WM_CLOSE, 0, 0); }), 0);
    EXPECT_EQ(Run([](HWND box) { SendMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0); }), 0);
    EXPECT_TRUE(opened.empty());
}

TEST_F(AboutTest, ClickAnywhereOnTheLinkOpensTheAddressAndCloses) {
    // Beside the text too: the corner of the control.
    const INT_PTR result = Run([](HWND box) {
        SendMessageA(GetDlgItem(box, IDC_ABOUT_LINK), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 1));
    });
    EXPECT_EQ(result, 0);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].first, "open");
    EXPECT_EQ(opened[0].second, QUILLON_HOME_URL);
}

TEST_F(AboutTest, LongLinkTextIsCutTo199CharactersForOpening) {
    const std::string longText = "https://" + std::string(250, 'q');
    Run([&](HWND box) {
        HWND linkWindow = GetDlgItem(box, IDC_ABOUT_LINK);
        SetWindowTextA(linkWindow, longText.c_str());
        SendMessageA(linkWindow, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    });
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].second, longText.substr(0, 199));
}

TEST(AboutProcTest, AnswersOnlyWhatItHandles) {
    // Messages that the procedure does not handle answer FALSE, so the
    // dialog manager's defaults apply; IDCANCEL among them.
    EXPECT_FALSE(AboutDialogProc(nullptr, WM_COMMAND, IDCANCEL, 0));
    EXPECT_FALSE(AboutDialogProc(nullptr, WM_COMMAND, 1002, 0));
    EXPECT_FALSE(AboutDialogProc(nullptr, WM_PAINT, 0, 0));
    EXPECT_FALSE(AboutDialogProc(nullptr, WM_KEYDOWN, VK_ESCAPE, 0));
}

} // namespace
