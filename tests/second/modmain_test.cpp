// The shared functions of modMain, and the main window and About box in
// process, with the test program standing in for Tessaflat.
#include <doctest/doctest.h>

#include "marrowby.h"
#include "modMain.h"
#include "scripted_library.h"
#include "watch.h"

// --- Functions on texts and bytes ---------------------------------------------------

TEST_CASE("TrimNulSpace cuts trailing NULs and blanks and keeps inner ones")
{
    CHECK(TrimNulSpace(std::string("ab c \0\0", 7)) == "ab c");
    CHECK(TrimNulSpace(std::string(" \0 \0", 4)).empty());
    CHECK(TrimNulSpace("").empty());
    CHECK(TrimNulSpace(std::string("a\0b", 3)) == std::string("a\0b", 3));
    CHECK(TrimNulSpace("  lead") == "  lead");
}

TEST_CASE("FormatWindowHandle gives 0x and eight lower-case digits")
{
    CHECK(FormatWindowHandle(0) == "0x00000000");
    CHECK(FormatWindowHandle(0xFFFFFFFF) == "0xffffffff");
    CHECK(FormatWindowHandle(0x1234) == "0x00001234");
    CHECK(FormatWindowHandle(0xABC) == "0x00000abc");
}

TEST_CASE("StripAmpersand removes the first ampersand only")
{
    std::string text = "List &Sessions...";
    CHECK(StripAmpersand(text));
    CHECK(text == "List Sessions...");
    CHECK_FALSE(StripAmpersand(text));
    CHECK(text == "List Sessions...");
    std::string several = "&a&&b";
    CHECK(StripAmpersand(several));
    CHECK(several == "a&&b");
    std::string empty;
    CHECK_FALSE(StripAmpersand(empty));
}

TEST_CASE("MakeInt16 and MakeInt32 read signed little-endian values")
{
    CHECK(MakeInt16(0xFF, 0xFF) == -1);
    CHECK(MakeInt16(0x34, 0x12) == 0x1234);
    CHECK(MakeInt16(0x00, 0x80) == -32768);
    CHECK(MakeInt16(0xFF, 0x7F) == 32767);
    CHECK(MakeInt32(0x78, 0x56, 0x34, 0x12) == 0x12345678);
    CHECK(MakeInt32(0, 0, 0, 0x80) == (LONG)0x80000000);
    CHECK(MakeInt32(0xFF, 0xFF, 0xFF, 0xFF) == -1);
    CHECK(MakeInt32(0xFF, 0xFF, 0xFF, 0x7F) == 0x7FFFFFFF);
    CHECK(MakeInt32(0x00, 0x00, 0xFF, 0xFF) == -65536);
}

// --- Messages --------------------------------------------------------------------------

TEST_CASE("ShowInvalidField names the field of kinds 1 to 4 and shows nothing for others")
{
    const char *expected[] = {"Share name 'A$B ' is invalid !", "Topic 'A$B ' is invalid !",
                              "Password #1 'A$B ' is invalid !", "Password #2 'A$B ' is invalid !"};
    for (int kind = 1; kind <= 4; kind++) {
        SeenBox box;
        AnswerMessageBox(box, IDOK, [&] { ShowInvalidField(kind, "A$B"); });
        CHECK(box.text == expected[kind - 1]);
        CHECK(box.caption == "Error");
        CHECK(box.icon == LoadIconA(nullptr, IDI_EXCLAMATION));
        CHECK(box.buttons == std::vector<std::string>{"OK"});
    }
    for (int kind : {0, 5, -1}) {
        SeenBox box;
        AnswerMessageBox(box, IDOK, [&] { ShowInvalidField(kind, "A$B"); });
        CHECK_FALSE(box.seen);
    }
}

struct ScriptedLibrary {
    ScriptedLibrary()
    {
        UseScriptedLibrary();
        script = LibraryScript();
    }
};

TEST_CASE("ReportApiError shows the code and the library's text for it")
{
    ScriptedLibrary library;
    SeenBox box;

    SUBCASE("a code the library has a text for")
    {
        script.errorTexts = {{16, std::string("The share does not exist   \0\0\0", 30)}};
        AnswerMessageBox(box, IDOK, [] { ReportApiError(16); });
        CHECK(box.text == "NDDEAPI.DLL reports error #16.\r\nThe share does not exist.");
        CHECK(box.caption == "Error");
        CHECK(box.icon == LoadIconA(nullptr, IDI_EXCLAMATION));
        CHECK(box.buttons == std::vector<std::string>{"OK"});
    }
    SUBCASE("the first code in the chain that has a text is shown")
    {
        script.errorTexts = {{6, "Invalid parameter"}};
        script.errorStringAnswer = 6;
        AnswerMessageBox(box, IDOK, [] { ReportApiError(4000000000u); });
        CHECK(script.errorStringCodes == std::vector<UINT>{4000000000u, 6});
        CHECK(box.text == "NDDEAPI.DLL reports error #6.\r\nInvalid parameter.");
    }
    SUBCASE("a library that never gives a text is asked a bounded number of times")
    {
        script.errorStringAnswer = 11;
        AnswerMessageBox(box, IDOK, [] { ReportApiError(5); });
        CHECK(script.errorStringCodes.size() == 8);
        CHECK(box.text == "NDDEAPI.DLL reports error #5.\r\nThe library gives no text for this error.");
    }
    SUBCASE("a text that fills the whole buffer without a terminator is cut at the buffer's end")
    {
        script.errorTexts = {{9, std::string(200, 'x')}};
        AnswerMessageBox(box, IDOK, [] { ReportApiError(9); });
        CHECK(box.text == "NDDEAPI.DLL reports error #9.\r\n" + std::string(128, 'x') + ".");
    }
}

// --- Lists and placement ---------------------------------------------------------------

namespace listForm {

enum Control { lbxLines };
static const ControlDesign controls[] = {
    {ListBox, "lbxLines", "", 16, 16, 120, 100},
};
static const FormDesign design = {
    .name = "listForm",
    .caption = "Lines",
    .left = 36, .top = 55, .width = 200, .height = 150,
    .controls = Table(controls),
};
Form form = {design};

}

static int TextWidth(HWND list, const std::string &text)
{
    HDC dc = GetDC(list);
    HGDIOBJ previous = SelectObject(dc, (HFONT)SendMessageA(list, WM_GETFONT, 0, 0));
    SIZE size;
    GetTextExtentPoint32A(dc, text.c_str(), (int)text.size(), &size);
    SelectObject(dc, previous);
    ReleaseDC(list, dc);
    return size.cx;
}

TEST_CASE("FitListHorizontalExtent makes the scroll range as wide as the widest line")
{
    LoadForm(listForm::form);
    HWND list = listForm::form[listForm::lbxLines];
    auto extent = [&] { return (int)SendMessageA(list, LB_GETHORIZONTALEXTENT, 0, 0); };

    SendMessageA(list, LB_SETHORIZONTALEXTENT, 500, 0);
    FitListHorizontalExtent(list);
    CHECK(extent() == 0);

    std::string wide = "a much wider line than the list box itself shows at once";
    ListAddItem(list, "short");
    ListAddItem(list, wide);
    ListAddItem(list, "medium length");
    FitListHorizontalExtent(list);
    CHECK(extent() == TextWidth(list, wide) + GetSystemMetrics(SM_CXVSCROLL));

    ListRemoveItem(list, 1);
    FitListHorizontalExtent(list);
    CHECK(extent() == TextWidth(list, "medium length") + GetSystemMetrics(SM_CXVSCROLL));

    while (ListCount(list) > 0)
        ListRemoveItem(list, 0);
    FitListHorizontalExtent(list);
    CHECK(extent() == 0);
    UnloadForm(listForm::form);
}

namespace ownerForm {
static const FormDesign design = {
    .name = "ownerForm",
    .caption = "Owner",
    .left = 100, .top = 100, .width = 300, .height = 200,
};
Form form = {design};
}

static RECT WindowRect(HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    return rect;
}

TEST_CASE("PlaceDialog offsets a dialog from its owner and keeps it on the screen to the right and bottom")
{
    LoadForm(ownerForm::form);
    HWND owner = ownerForm::form.hwnd;
    int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
    int frame = GetSystemMetrics(SM_CXDLGFRAME), frameY = GetSystemMetrics(SM_CYDLGFRAME);
    int caption = GetSystemMetrics(SM_CYCAPTION), border = GetSystemMetrics(SM_CYBORDER);
    int menu = GetSystemMetrics(SM_CYMENU);

    auto placed = [&](int ownerLeft, int ownerTop, BYTE flags) {
        SetWindowPos(owner, nullptr, ownerLeft, ownerTop, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        UnloadForm(listForm::form);
        LoadForm(listForm::form);
        PlaceDialog(listForm::form, ownerForm::form, flags);
        return WindowRect(listForm::form.hwnd);
    };
    LoadForm(listForm::form);
    RECT designed = WindowRect(listForm::form.hwnd);
    int width = designed.right - designed.left, height = designed.bottom - designed.top;

    SUBCASE("beside the main window: dialog frame, caption and menu")
    {
        RECT rect = placed(50, 40, PlaceBesideMain);
        CHECK(rect.left == 50 + designed.left + frame);
        CHECK(rect.top == 40 + designed.top + frameY + caption + menu);
        CHECK(rect.right - rect.left == width);
        CHECK(rect.bottom - rect.top == height);
    }
    SUBCASE("beside a dialog: flags 10 add the dialog frame (bit 0x02) and the caption")
    {
        RECT rect = placed(50, 40, PlaceBesideDialog);
        CHECK(rect.left == 50 + designed.left + frame);
        CHECK(rect.top == 40 + designed.top + frameY + caption - border);
    }
    SUBCASE("both dialog frame bits add the frame twice")
    {
        RECT rect = placed(50, 40, 0x03);
        CHECK(rect.left == 50 + designed.left + 2 * frame);
        CHECK(rect.top == 40 + designed.top + 2 * frameY);
    }
    SUBCASE("the sizing frame bit")
    {
        RECT rect = placed(50, 40, 0x04);
        CHECK(rect.left == 50 + designed.left + GetSystemMetrics(SM_CXFRAME));
        CHECK(rect.top == 40 + designed.top + GetSystemMetrics(SM_CYFRAME));
    }
    SUBCASE("near the right and bottom edges it ends at the screen's edge")
    {
        RECT rect = placed(screenWidth - 40, screenHeight - 30, PlaceBesideMain);
        CHECK(rect.left == screenWidth - width);
        CHECK(rect.top == screenHeight - height);
    }
    SUBCASE("beyond the left and top edges nothing is corrected")
    {
        RECT rect = placed(-300, -250, PlaceBesideMain);
        CHECK(rect.left == -300 + designed.left + frame);
        CHECK(rect.top == -250 + designed.top + frameY + caption + menu);
        CHECK(rect.left < 0);
        CHECK(rect.top < 0);
    }
    UnloadForm(listForm::form);
    UnloadForm(ownerForm::form);
}

// --- The main window and the About box, in process --------------------------------------

// wndMain loaded (not shown modal) with the scripted library behind it.
struct MainWindow {
    MainWindow()
    {
        UseScriptedLibrary();
        script = LibraryScript();
        LoadForm(wndMain::form);
        ShowWindow(wndMain::form.hwnd, SW_SHOW);
        SetForegroundWindow(wndMain::form.hwnd);
    }
    ~MainWindow() { UnloadForm(wndMain::form); }

    // The command id of a menu item, by its position in its menu.
    static UINT Command(int menuPosition, int itemPosition)
    {
        return GetMenuItemID(GetSubMenu(GetMenu(wndMain::form.hwnd), menuPosition), itemPosition);
    }
    static void Choose(int menuPosition, int itemPosition)
    {
        SendMessageA(wndMain::form.hwnd, WM_COMMAND, Command(menuPosition, itemPosition), 0);
    }
};

static std::string MenuText(int menuPosition, int itemPosition)
{
    char text[64] = "";
    GetMenuStringA(GetSubMenu(GetMenu(wndMain::form.hwnd), menuPosition), itemPosition, text, sizeof text,
                   MF_BYPOSITION);
    return text;
}

TEST_CASE("the main window's load step makes the first library call and fits the window to its picture")
{
    MainWindow main;
    REQUIRE(script.validatedNames.size() == 1);
    CHECK(script.validatedNames[0] == nullptr);
    RECT client;
    GetClientRect(wndMain::form.hwnd, &client);
    CHECK(client.right == 400);
    CHECK(client.bottom == 300);
    CHECK(GetText(wndMain::form.hwnd) == "32-bit Network DDE Status");
    LONG style = GetWindowLongA(wndMain::form.hwnd, GWL_STYLE);
    CHECK((style & WS_MINIMIZEBOX) != 0);
    CHECK((style & (WS_MAXIMIZEBOX | WS_THICKFRAME)) == 0);
    CHECK(GetText(wndMain::form[wndMain::Label1]) == "Quorvane");
    CHECK_FALSE(IsWindowVisible(wndMain::form[wndMain::lblMenuCmd]));
    CHECK(CommandTitle().empty());
}

TEST_CASE("the main menu holds the commands with their access keys")
{
    MainWindow main;
    CHECK(MenuText(0, 0) == "&List Shares...");
    CHECK(MenuText(0, 1) == "List &Sessions...");
    CHECK(MenuText(0, 3) == "Show &Name");
    CHECK(MenuText(0, 4) == "List &Tasks...");
    CHECK(MenuText(0, 5) == "Check Net&DDE...");
    CHECK(MenuText(0, 6) == "Select &Computer...");
    CHECK(MenuText(0, 8) == "E&xit");
    CHECK(MenuText(1, 0) == "Contents...\tF1");
    CHECK(MenuText(1, 1) == "&How To Use Help...");
    CHECK(MenuText(1, 3) == "&About...");
}

TEST_CASE("the command title never keeps an ampersand")
{
    MainWindow main;
    SetCommandTitle("&List &Shares && more&");
    CHECK(CommandTitle() == "List Shares  more");
    SetCommandTitle("Clients...");
    CHECK(CommandTitle() == "Clients...");
    SetCommandTitle("");
    CHECK(CommandTitle().empty());
}

TEST_CASE("Show Name shows the node name under the command title and clears the title")
{
    MainWindow main;
    SeenBox box;

    SUBCASE("the node name")
    {
        script.nodeName = std::string("ABC\0\0\0\0\0\0\0\0\0\0\0\0\0", 16);
        AnswerMessageBox(box, IDOK, [&] { MainWindow::Choose(0, 3); });
        CHECK(box.text == "My node name is 'ABC'.");
        CHECK(box.caption == "Show Name");
        CHECK(box.icon == LoadIconA(nullptr, IDI_ASTERISK));
        CHECK(box.buttons == std::vector<std::string>{"OK"});
        CHECK(box.owner == wndMain::form.hwnd);
    }
    SUBCASE("a name that fills the buffer without a terminator")
    {
        script.nodeName = "SIXTEENCHARSNODEXXXX";
        AnswerMessageBox(box, IDOK, [&] { MainWindow::Choose(0, 3); });
        CHECK(box.text == "My node name is 'SIXTEENCHARSNODE'.");
    }
    SUBCASE("a failure is reported instead")
    {
        script.nodeNameResult = 18;
        script.errorTexts = {{18, "Network DDE is not running"}};
        AnswerMessageBox(box, IDOK, [&] { MainWindow::Choose(0, 3); });
        CHECK(box.caption == "Error");
        CHECK(box.text == "NDDEAPI.DLL reports error #18.\r\nNetwork DDE is not running.");
    }
    CHECK(CommandTitle().empty());
}

TEST_CASE("About opens modal over the main window, captioned with the command title")
{
    MainWindow main;
    std::string caption, titleMeanwhile;
    bool mainEnabled = true;
    RECT okRect = {}, client = {};
    POINT aboutOrigin = {0, 0}, mainOrigin = {0, 0};
    bool opened = WatchWhile("About...", [&](HWND about) {
        caption = GetText(about);
        titleMeanwhile = CommandTitle();
        mainEnabled = IsWindowEnabled(wndMain::form.hwnd) != FALSE;
        GetClientRect(about, &client);
        ClientToScreen(about, &aboutOrigin);
        ClientToScreen(wndMain::form.hwnd, &mainOrigin);
        GetWindowRect(dlgAbout::form[dlgAbout::btnOK], &okRect);
        MapWindowPoints(nullptr, about, reinterpret_cast<POINT *>(&okRect), 2);
        PostMessageA(dlgAbout::form[dlgAbout::btnOK], BM_CLICK, 0, 0);
    }, [] { MainWindow::Choose(1, 3); });
    REQUIRE(opened);
    CHECK(caption == "About...");
    CHECK(titleMeanwhile == "About...");
    CHECK_FALSE(mainEnabled);
    CHECK(client.right == 250);
    CHECK(client.bottom == 99);
    CHECK(okRect.left == 168);
    CHECK(okRect.top == 16);
    CHECK(okRect.right - okRect.left == 72);
    CHECK(okRect.bottom - okRect.top == 21);
    // The designed client position (36, 55) becomes an offset from the
    // main window's client area.
    CHECK(aboutOrigin.x - mainOrigin.x == 36);
    CHECK(aboutOrigin.y - mainOrigin.y == 55);
    CHECK(dlgAbout::form.hwnd == nullptr);
    CHECK(IsWindowEnabled(wndMain::form.hwnd));
    CHECK(CommandTitle().empty());
}

TEST_CASE("Enter closes the About box through its default button")
{
    MainWindow main;
    bool opened = WatchWhile("About...", [](HWND about) {
        PostMessageA(GetFocus(), WM_KEYDOWN, VK_RETURN, 0);
        (void)about;
    }, [] { MainWindow::Choose(1, 3); });
    CHECK(opened);
    CHECK(dlgAbout::form.hwnd == nullptr);
}
