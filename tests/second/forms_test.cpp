// The forms layer, in process: forms built from their designs, their
// controls, keyboard, events, lifetime, modal showing and binding by name.
#include <doctest/doctest.h>

#include "forms.h"
#include "modMain.h"
#include "watch.h"

// --- A sample form with every kind of control, designed in twips ---------------

namespace sample {

enum Control {
    lblName, txtName, lbxSorted, lbxPlain, cbxChoice, frmOptions, chkFirst, chkSecond,
    btnOK, btnCancel, btnOff, imgIcon, lblHidden,
};

static std::vector<std::string> events;
static int loads, unloads;
extern Form form;

static void Form_Load()
{
    loads++;
}

static void Form_Unload()
{
    unloads++;
    ReleaseForm(form);
}

static void Record(const char *event)
{
    events.push_back(event);
}

static const ControlDesign controls[] = {
    {Label, "lblName", "Name:", 240, 240, 1215, 255, AlignRight},
    {TextBox, "txtName", "", 1560, 240, 2415, 285, UpperCase},
    {SortedListBox, "lbxSorted", "", 240, 600, 2415, 1230},
    {ListBox, "lbxPlain", "", 2880, 600, 1500, 1230},
    {DropDownList, "cbxChoice", "(end of list)", 240, 1920, 2415, 315},
    {Frame, "frmOptions", "Options:", 240, 2400, 2415, 1200},
    {CheckBox, "chkFirst", "First", 240, 360, 975, 255, InFrame},
    {CheckBox, "chkSecond", "Second", 240, 720, 975, 255, InFrame},
    {CommandButton, "btnOK", "OK", 4560, 240, 1080, 315, DefaultButton},
    {CommandButton, "btnCancel", "Cancel", 4560, 720, 1080, 315, CancelButton},
    {CommandButton, "btnOff", "Off", 4560, 1200, 1080, 315, Disabled},
    {Image, "imgIcon", IDI_ASTERISK, 4560, 1680, 480, 480},
    {Label, "lblHidden", "", 0, 0, 1500, 255, Invisible},
};

static const EventBinding bindings[] = {
    {txtName, GotFocus, [] { Record("txtName_GotFocus"); }},
    {txtName, Change, [] { Record("txtName_Change"); }},
    {lbxSorted, Click, [] { Record("lbxSorted_Click"); }},
    {lbxSorted, DblClick, [] { Record("lbxSorted_DblClick"); }},
    {cbxChoice, Click, [] { Record("cbxChoice_Click"); }},
    {chkFirst, Click, [] { Record("chkFirst_Click"); }},
    {btnOK, Click, [] { Record("btnOK_Click"); }},
    {btnCancel, Click, [] { Record("btnCancel_Click"); }},
    {lblHidden, Change, [] { Record("lblHidden_Change"); }},
};

static const FormDesign design = {
    .name = "sample",
    .caption = "Sample",
    .border = FixedDialog,
    .units = Twips,
    .left = 540, .top = 825, .width = 5880, .height = 3840,
    .controls = Table(controls),
    .events = Table(bindings),
    .load = Form_Load,
    .unload = Form_Unload,
};

Form form = {design};

}

// --- A small dialog in pixels, shown modal over the sample, with a menu ---------

namespace modal {

enum Control { btnClose };
enum MenuItem { mnuFile, mnuOpen, mnuSeparator, mnuLater, mnuContents };

static bool ownerEnabledWhileShown;
static HWND ownerWhileShown;
static std::vector<std::string> events;
extern Form form;

static void btnClose_Click()
{
    ownerEnabledWhileShown = IsWindowEnabled(GetWindow(form.hwnd, GW_OWNER)) != FALSE;
    ownerWhileShown = GetWindow(form.hwnd, GW_OWNER);
    UnloadForm(form);
}

static void mnuOpen_Click()
{
    events.push_back("mnuOpen_Click");
}

static void mnuContents_Click()
{
    events.push_back("mnuContents_Click");
    UnloadForm(form);
}

static const ControlDesign controls[] = {
    {CommandButton, "btnClose", "Close", 8, 8, 72, 21, DefaultButton},
};

static const EventBinding bindings[] = {
    {btnClose, Click, btnClose_Click},
};

static const MenuDesign menu[] = {
    {0, "mnuFile", "&File"},
    {1, "mnuOpen", "&Open...", mnuOpen_Click},
    {1, "mnuSeparator", "-"},
    {1, "mnuLater", "&Later..."},
    {1, "mnuContents", "Contents...", mnuContents_Click, VK_F1},
};

static const FormDesign design = {
    .name = "modal",
    .caption = "Modal",
    .border = FixedSingle,
    .units = Pixels,
    .left = 100, .top = 100, .width = 200, .height = 60,
    .controls = Table(controls),
    .events = Table(bindings),
    .menu = Table(menu),
};

Form form = {design};

}

// --- Helpers ---------------------------------------------------------------------

// A control's rectangle in its form's client coordinates.
static RECT ControlRect(const Form &form, int control)
{
    RECT rect;
    GetWindowRect(form[control], &rect);
    MapWindowPoints(nullptr, form.hwnd, reinterpret_cast<POINT *>(&rect), 2);
    return rect;
}

static void CheckRect(const RECT &rect, int left, int top, int width, int height)
{
    CHECK(rect.left == left);
    CHECK(rect.top == top);
    CHECK(rect.right - rect.left == width);
    CHECK(rect.bottom - rect.top == height);
}

// Loads and shows the sample form, fresh for each test.
struct SampleShown {
    SampleShown()
    {
        UnloadForm(sample::form);
        sample::events.clear();
        LoadForm(sample::form);
        ShowWindow(sample::form.hwnd, SW_SHOW);
        SetForegroundWindow(sample::form.hwnd);
    }
    ~SampleShown() { UnloadForm(sample::form); }
};

static void PressKey(HWND target, WORD key)
{
    MSG message = {target, WM_KEYDOWN, key, 0, 0, {0, 0}};
    if (!IsDialogMessageA(sample::form.hwnd, &message)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// --- Tests ------------------------------------------------------------------------

TEST_CASE("a form's client area and controls stand where its design puts them")
{
    SampleShown shown;
    const Form &form = sample::form;

    SUBCASE("twips become pixels at 15 twips per pixel")
    {
        RECT client;
        GetClientRect(form.hwnd, &client);
        CHECK(client.right == 392);
        CHECK(client.bottom == 256);
        POINT origin = {0, 0};
        ClientToScreen(form.hwnd, &origin);
        CHECK(origin.x == 36);
        CHECK(origin.y == 55);
        CheckRect(ControlRect(form, sample::lblName), 16, 16, 81, 17);
        CheckRect(ControlRect(form, sample::txtName), 104, 16, 161, 19);
        CheckRect(ControlRect(form, sample::lbxSorted), 16, 40, 161, 82);
        CheckRect(ControlRect(form, sample::btnOK), 304, 16, 72, 21);
    }
    SUBCASE("controls in a frame are placed relative to it")
    {
        CheckRect(ControlRect(form, sample::frmOptions), 16, 160, 161, 80);
        CheckRect(ControlRect(form, sample::chkFirst), 32, 184, 65, 17);
        CheckRect(ControlRect(form, sample::chkSecond), 32, 208, 65, 17);
    }
    SUBCASE("captions, styles and initial states follow the design")
    {
        CHECK(GetText(form.hwnd) == "Sample");
        CHECK(GetText(form[sample::lblName]) == "Name:");
        CHECK((GetWindowLongA(form[sample::lblName], GWL_STYLE) & SS_TYPEMASK) == SS_RIGHT);
        CHECK(GetText(form[sample::frmOptions]) == "Options:");
        CHECK(GetText(form[sample::chkSecond]) == "Second");
        CHECK((GetWindowLongA(form[sample::lbxSorted], GWL_STYLE) & LBS_SORT) != 0);
        CHECK((GetWindowLongA(form[sample::lbxPlain], GWL_STYLE) & LBS_SORT) == 0);
        CHECK((GetWindowLongA(form[sample::cbxChoice], GWL_STYLE) & 3) == CBS_DROPDOWNLIST);
        CHECK(ListCount(form[sample::cbxChoice]) == 1);
        CHECK(ListText(form[sample::cbxChoice], 0) == "(end of list)");
        CHECK_FALSE(IsWindowEnabled(form[sample::btnOff]));
        CHECK_FALSE(IsWindowVisible(form[sample::lblHidden]));
        CHECK((HICON)SendMessageA(form[sample::imgIcon], STM_GETICON, 0, 0) == LoadIconA(nullptr, IDI_ASTERISK));
        CHECK((GetWindowLongA(form[sample::btnOK], GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON);
    }
    SUBCASE("a fixed dialog frame without minimize or maximize box")
    {
        LONG style = GetWindowLongA(form.hwnd, GWL_STYLE);
        CHECK((style & WS_THICKFRAME) == 0);
        CHECK((style & WS_MAXIMIZEBOX) == 0);
        CHECK((style & WS_MINIMIZEBOX) == 0);
        CHECK((GetWindowLongA(form.hwnd, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME) != 0);
    }
}

TEST_CASE("Tab follows the design table; Enter and Escape click the default and cancel buttons")
{
    SampleShown shown;
    const Form &form = sample::form;
    SendMessageA(form.hwnd, WM_NEXTDLGCTL, (WPARAM)form[sample::txtName], TRUE);

    SUBCASE("Tab visits every enabled control that takes the focus, in table order")
    {
        const int order[] = {sample::lbxSorted, sample::lbxPlain, sample::cbxChoice, sample::chkFirst,
                             sample::chkSecond, sample::btnOK, sample::btnCancel, sample::txtName};
        for (int control : order) {
            PressKey(GetFocus(), VK_TAB);
            CHECK(GetFocus() == form[control]);
        }
    }
    SUBCASE("Enter in a text box clicks the default button")
    {
        PressKey(GetFocus(), VK_RETURN);
        CHECK(sample::events.back() == "btnOK_Click");
    }
    SUBCASE("Enter on another button clicks that button")
    {
        SendMessageA(form.hwnd, WM_NEXTDLGCTL, (WPARAM)form[sample::btnCancel], TRUE);
        sample::events.clear();
        PressKey(GetFocus(), VK_RETURN);
        CHECK(sample::events == std::vector<std::string>{"btnCancel_Click"});
    }
    SUBCASE("Escape clicks the cancel button")
    {
        sample::events.clear();
        PressKey(GetFocus(), VK_ESCAPE);
        CHECK(sample::events == std::vector<std::string>{"btnCancel_Click"});
    }
}

TEST_CASE("list lines keep their item values when the list sorts")
{
    SampleShown shown;
    HWND sorted = sample::form[sample::lbxSorted];
    HWND plain = sample::form[sample::lbxPlain];

    SUBCASE("a sorted list")
    {
        CHECK(ListAddItem(sorted, "delta", 4) == 0);
        CHECK(ListAddItem(sorted, "alpha", 1) == 0);
        CHECK(ListAddItem(sorted, "charlie", 0x80000003) == 1);
        CHECK(ListAddItem(sorted, "bravo", 2) == 1);
        REQUIRE(ListCount(sorted) == 4);
        const char *lines[] = {"alpha", "bravo", "charlie", "delta"};
        const DWORD values[] = {1, 2, 0x80000003, 4};
        for (int i = 0; i < 4; i++) {
            CHECK(ListText(sorted, i) == lines[i]);
            CHECK(ListItemData(sorted, i) == values[i]);
        }
        ListRemoveItem(sorted, 1);
        CHECK(ListText(sorted, 1) == "charlie");
        CHECK(ListItemData(sorted, 1) == 0x80000003);
        CHECK(ListFindExact(sorted, "DELTA") == 2);
        CHECK(ListFindExact(sorted, "delt") == -1);
    }
    SUBCASE("an unsorted list keeps the order of adding and inserting")
    {
        ListAddItem(plain, "zulu", 26);
        ListAddItem(plain, "alpha", 1);
        CHECK(ListInsertItem(plain, 1, "mike", 13) == 1);
        CHECK(ListText(plain, 0) == "zulu");
        CHECK(ListText(plain, 1) == "mike");
        CHECK(ListItemData(plain, 1) == 13);
        CHECK(ListText(plain, 2) == "alpha");
        SetListItemData(plain, 2, 7);
        CHECK(ListItemData(plain, 2) == 7);
        CHECK(ListIndex(plain) == -1);
        SetListIndex(plain, 2);
        CHECK(ListIndex(plain) == 2);
        CHECK(ListText(plain, 5).empty());
    }
    SUBCASE("a drop-down list takes entries in front of its designed one")
    {
        HWND choice = sample::form[sample::cbxChoice];
        ListInsertItem(choice, 0, "second");
        ListInsertItem(choice, 0, "first");
        CHECK(ListCount(choice) == 3);
        CHECK(ListText(choice, 2) == "(end of list)");
        SetListIndex(choice, 2);
        CHECK(ListIndex(choice) == 2);
        CHECK(ListFindExact(choice, "FIRST") == 0);
    }
}

TEST_CASE("check boxes hold 0, 1 or 2 and a click ticks or clears them")
{
    SampleShown shown;
    HWND box = sample::form[sample::chkFirst];
    CHECK(CheckValue(box) == 0);
    SetCheckValue(box, 2);
    CHECK(CheckValue(box) == 2);
    SendMessageA(box, BM_CLICK, 0, 0);
    CHECK(CheckValue(box) == 1);
    CHECK(sample::events.back() == "chkFirst_Click");
    SendMessageA(box, BM_CLICK, 0, 0);
    CHECK(CheckValue(box) == 0);
    CHECK(CheckValue(sample::form[sample::chkSecond]) == 0);
}

TEST_CASE("controls raise the events their form binds")
{
    SampleShown shown;
    const Form &form = sample::form;

    SUBCASE("a click on a list line is Click, a double click DblClick")
    {
        HWND list = form[sample::lbxSorted];
        ListAddItem(list, "one");
        ListAddItem(list, "two");
        int lineHeight = (int)SendMessageA(list, LB_GETITEMHEIGHT, 0, 0);
        LPARAM secondLine = MAKELPARAM(5, lineHeight + lineHeight / 2);
        sample::events.clear();
        SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, secondLine);
        SendMessageA(list, WM_LBUTTONUP, 0, secondLine);
        CHECK(ListIndex(list) == 1);
        REQUIRE_FALSE(sample::events.empty());
        CHECK(sample::events.back() == "lbxSorted_Click");
        SendMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, secondLine);
        SendMessageA(list, WM_LBUTTONUP, 0, secondLine);
        CHECK(sample::events.back() == "lbxSorted_DblClick");
    }
    SUBCASE("a text box raises GotFocus and Change, and shows capitals with the upper-case style")
    {
        SetFocus(form[sample::btnOK]);
        sample::events.clear();
        SetFocus(form[sample::txtName]);
        CHECK(sample::events == std::vector<std::string>{"txtName_GotFocus"});
        SendMessageA(form[sample::txtName], WM_CHAR, 'a', 0);
        SendMessageA(form[sample::txtName], WM_CHAR, 'b', 0);
        CHECK(GetText(form[sample::txtName]) == "AB");
        CHECK(sample::events.back() == "txtName_Change");
    }
    SUBCASE("the upper-case style also works when it is added after loading")
    {
        HWND plainText = form[sample::txtName];
        SetWindowLongA(plainText, GWL_STYLE, GetWindowLongA(plainText, GWL_STYLE) & ~ES_UPPERCASE);
        SendMessageA(plainText, WM_CHAR, 'a', 0);
        SetWindowLongA(plainText, GWL_STYLE, GetWindowLongA(plainText, GWL_STYLE) | ES_UPPERCASE);
        SendMessageA(plainText, WM_CHAR, 'b', 0);
        CHECK(GetText(plainText) == "aB");
    }
    SUBCASE("a drop-down list's choice is Click")
    {
        HWND choice = form[sample::cbxChoice];
        SetListIndex(choice, 0);
        SendMessageA(form.hwnd, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(choice), CBN_SELCHANGE), (LPARAM)choice);
        CHECK(sample::events.back() == "cbxChoice_Click");
    }
    SUBCASE("a label raises Change when SetText changes its text, not when it stays")
    {
        sample::events.clear();
        SetText(form[sample::lblHidden], "one");
        SetText(form[sample::lblHidden], "one");
        SetText(form[sample::lblHidden], "two");
        CHECK(sample::events == std::vector<std::string>{"lblHidden_Change", "lblHidden_Change"});
        CHECK(GetText(form[sample::lblHidden]) == "two");
    }
    SUBCASE("a disabled button cannot be clicked by Escape or Enter")
    {
        EnableWindow(form[sample::btnCancel], FALSE);
        EnableWindow(form[sample::btnOK], FALSE);
        sample::events.clear();
        PressKey(form[sample::txtName], VK_ESCAPE);
        PressKey(form[sample::txtName], VK_RETURN);
        CHECK(sample::events.empty());
    }
}

TEST_CASE("a form loads on first use and its unload step releases it for a fresh one")
{
    UnloadForm(sample::form);
    sample::loads = sample::unloads = 0;

    LoadForm(sample::form);
    HWND first = sample::form.hwnd;
    REQUIRE(first != nullptr);
    CHECK_FALSE(IsWindowVisible(first));
    LoadForm(sample::form);
    CHECK(sample::form.hwnd == first);
    CHECK(sample::loads == 1);

    ListAddItem(sample::form[sample::lbxPlain], "left over");
    SetText(sample::form[sample::txtName], "LEFT OVER");
    sample::form.bError = true;
    UnloadForm(sample::form);
    CHECK(sample::unloads == 1);
    CHECK(sample::form.hwnd == nullptr);
    CHECK_FALSE(IsWindow(first));
    CHECK(sample::form[sample::lbxPlain] == nullptr);

    LoadForm(sample::form);
    CHECK(sample::loads == 2);
    CHECK(ListCount(sample::form[sample::lbxPlain]) == 0);
    CHECK(GetText(sample::form[sample::txtName]).empty());
    CHECK_FALSE(sample::form.bError);
    UnloadForm(sample::form);
    CHECK(sample::unloads == 2);
}

TEST_CASE("a modal form disables its owner and runs until it unloads")
{
    SampleShown shown;

    SUBCASE("its own button unloads it; the owner takes input again")
    {
        LoadForm(modal::form);
        PostMessageA(modal::form[modal::btnClose], BM_CLICK, 0, 0);
        ShowModal(modal::form, sample::form);
        CHECK(modal::form.hwnd == nullptr);
        CHECK(modal::ownerWhileShown == sample::form.hwnd);
        CHECK_FALSE(modal::ownerEnabledWhileShown);
        CHECK(IsWindowEnabled(sample::form.hwnd));
    }
    SUBCASE("the close box unloads it")
    {
        LoadForm(modal::form);
        PostMessageA(modal::form.hwnd, WM_CLOSE, 0, 0);
        ShowModal(modal::form, sample::form);
        CHECK(modal::form.hwnd == nullptr);
        CHECK(IsWindowEnabled(sample::form.hwnd));
    }
    SUBCASE("the menu shows access keys, shortcuts and greyed items, and F1 chooses its item")
    {
        LoadForm(modal::form);
        HMENU file = GetSubMenu(GetMenu(modal::form.hwnd), 0);
        char caption[64];
        GetMenuStringA(GetMenu(modal::form.hwnd), 0, caption, sizeof caption, MF_BYPOSITION);
        CHECK(std::string(caption) == "&File");
        GetMenuStringA(file, modal::mnuContents - 1, caption, sizeof caption, MF_BYPOSITION);
        CHECK(std::string(caption) == "Contents...\tF1");
        CHECK(MenuCaption(modal::form, modal::mnuContents) == "Contents...");
        CHECK((GetMenuState(file, modal::mnuLater - 1, MF_BYPOSITION) & MF_GRAYED) != 0);
        CHECK((GetMenuState(file, modal::mnuOpen - 1, MF_BYPOSITION) & MF_GRAYED) == 0);
        CHECK((GetMenuState(file, modal::mnuSeparator - 1, MF_BYPOSITION) & MF_SEPARATOR) != 0);

        modal::events.clear();
        SendMessageA(modal::form.hwnd, WM_COMMAND, GetMenuItemID(file, modal::mnuOpen - 1), 0);
        CHECK(modal::events == std::vector<std::string>{"mnuOpen_Click"});
        PostMessageA(modal::form.hwnd, WM_KEYDOWN, VK_F1, 0);
        ShowModal(modal::form, sample::form);
        CHECK(modal::events.back() == "mnuContents_Click");
        CHECK(modal::form.hwnd == nullptr);
    }
}

TEST_CASE("a form whose window is destroyed without its unload step is unloaded all the same")
{
    SUBCASE("destroyed directly")
    {
        UnloadForm(sample::form);
        sample::unloads = 0;
        LoadForm(sample::form);
        DestroyWindow(sample::form.hwnd);
        CHECK(sample::form.hwnd == nullptr);
        CHECK(sample::unloads == 0);
        LoadForm(sample::form);
        CHECK(sample::form.hwnd != nullptr);
        UnloadForm(sample::form);
    }
    SUBCASE("a modal form's loop ends when its owner is destroyed")
    {
        SampleShown shown;
        bool watched = WatchWhile("Modal", [](HWND) { DestroyWindow(sample::form.hwnd); },
                                  [] { ShowModal(modal::form, sample::form); });
        CHECK(watched);
        CHECK(modal::form.hwnd == nullptr);
        CHECK(sample::form.hwnd == nullptr);
    }
}

TEST_CASE("a form below a modal one ignores a request to close")
{
    SampleShown shown;
    bool ownerStayed = false;
    bool watched = WatchWhile("Modal", [&](HWND) {
        SendMessageA(sample::form.hwnd, WM_CLOSE, 0, 0);
        ownerStayed = sample::form.hwnd != nullptr;
        PostMessageA(modal::form.hwnd, WM_CLOSE, 0, 0);
    }, [] { ShowModal(modal::form, sample::form); });
    CHECK(watched);
    CHECK(ownerStayed);
    CHECK(modal::form.hwnd == nullptr);
    CHECK(IsWindowEnabled(sample::form.hwnd));
}

TEST_CASE("the hourglass shows over a form and its controls until the pointer is set back")
{
    SampleShown shown;
    HWND button = sample::form[sample::btnOK];
    auto pointerOverButton = [&] {
        SetCursor(nullptr);
        SendMessageA(button, WM_SETCURSOR, (WPARAM)button, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        return GetCursor();
    };
    SetMousePointer(sample::form, Hourglass);
    CHECK(pointerOverButton() == LoadCursorA(nullptr, IDC_WAIT));
    SetMousePointer(sample::form, DefaultPointer);
    CHECK(pointerOverButton() == LoadCursorA(nullptr, IDC_ARROW));
}

TEST_CASE("message boxes show the text, caption, icon and buttons asked for, and give the answer")
{
    SampleShown shown;
    SeenBox box;
    int answer = 0;
    AnswerMessageBox(box, IDNO, [&] { answer = MsgBox("Delete it ?", MB_YESNO | MB_ICONQUESTION, "Question"); });
    CHECK(box.seen);
    CHECK(box.text == "Delete it ?");
    CHECK(box.caption == "Question");
    CHECK(box.icon == LoadIconA(nullptr, IDI_QUESTION));
    CHECK(box.buttons == std::vector<std::string>{"&Yes", "&No"});
    CHECK(box.owner == sample::form.hwnd);
    CHECK(answer == IDNO);
}

TEST_CASE("library functions are bound by name at their first call")
{
    SUBCASE("a declared function resolves at its first call and stays bound")
    {
        CHECK_FALSE(kernel32::lstrcpynA.IsBound());
        char copy[4];
        kernel32::lstrcpynA(copy, "abcdef", sizeof copy);
        CHECK(std::string(copy) == "abc");
        CHECK(kernel32::lstrcpynA.IsBound());
    }
    // The message of a resolution that must fail.
    auto failedResolution = [](LibraryModule &module, const char *function) {
        std::string problem;
        bool resolved = ResolveByName(module, function, problem) != nullptr;
        CHECK_FALSE(resolved);
        return problem;
    };
    SUBCASE("a module that cannot be loaded is named in the message")
    {
        LibraryModule missing = {"NoSuchLibraryAnywhere", nullptr};
        CHECK(failedResolution(missing, "AnyFunction") == "The library 'NoSuchLibraryAnywhere' cannot be loaded.");
    }
    SUBCASE("a function the module lacks is named in the message")
    {
        LibraryModule kernel = {"kernel32", nullptr};
        CHECK(failedResolution(kernel, "NoSuchFunctionAnywhere") ==
              "The function 'NoSuchFunctionAnywhere' cannot be found in the library 'kernel32'.");
        std::string problem;
        CHECK(reinterpret_cast<void *>(ResolveByName(kernel, "lstrlenA", problem)) ==
              reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32"), "lstrlenA")));
    }
}
