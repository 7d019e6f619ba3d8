// The status program's dialog utilities, built into the utility host and
// driven there with real window messages: default-button hand-over, list
// widths and notifications, caption modes, the title slot, the wait cursor,
// messages and error reports, and the growing enumeration buffers.
#include <doctest/doctest.h>

#include "resource.h"
#include "tessaflat.h"
#include "uidriver.h"
#include "utility_host.h"

struct UtilityHost {
    ui::Program program;
    HWND dialog = NULL;

    UtilityHost()
    {
        REQUIRE(program.start(ui::pathBeside("utility_host.exe")));
        dialog = ui::waitForDialog(program.processId(), HOST_CAPTION);
        REQUIRE(dialog != nullptr);
    }
    // A request that returns at once.
    LRESULT send(UINT request, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        DWORD_PTR result = 0;
        REQUIRE(SendMessageTimeoutA(dialog, request, wParam, lParam, SMTO_NORMAL, 10000, &result));
        return (LRESULT)result;
    }
    // A request that may open a message box.
    void post(UINT request, WPARAM wParam = 0)
    {
        REQUIRE(PostMessageA(dialog, request, wParam, 0));
    }
    std::string event() const { return ui::text(dialog, IDC_HOST_EVENT); }
    bool eventBecomes(const std::string &expected)
    {
        return ui::waitUntil([&] { return event() == expected; }, 5000);
    }
    HWND focus() const { return ui::focusedWindow(program.threadId()); }
    HWND control(int id) const { return GetDlgItem(dialog, id); }
    WORD buttonKind(int id) const { return LOWORD(ui::style(dialog, id)); }
};

static std::string libraryText(UINT code)
{
    char text[128] = "";
    REQUIRE(NDdeGetErrorString(code, text, sizeof text) == NDDE_NO_ERROR);
    return text;
}

// Checks a report box and closes it. A box wider than the screen shows only
// part of its icon, so that is not read then.
static void answerExclamation(UtilityHost &host, const std::string &expectedText, bool readIcon = true)
{
    ui::MessageBoxView box;
    REQUIRE(ui::waitForMessageBox(host.program.processId(), box));
    CHECK(box.text == expectedText);
    CHECK(box.caption == "Error");
    if (readIcon)
        CHECK(box.icon == ui::Icon::Exclamation);
    CHECK(box.owner == nullptr);
    REQUIRE(ui::answerMessageBox(box, IDOK));
}

TEST_CASE("enableDialogButton hands the default state and the focus on in tab order")
{
    UtilityHost host;
    REQUIRE(host.buttonKind(IDC_ADD_BUTTON) == BS_DEFPUSHBUTTON);

    // Enabling never moves the default.
    host.send(HostEnableButton, IDC_EDIT_BUTTON, TRUE);
    CHECK(ui::isEnabled(host.dialog, IDC_EDIT_BUTTON));
    CHECK(host.buttonKind(IDC_EDIT_BUTTON) == BS_PUSHBUTTON);
    CHECK(host.buttonKind(IDC_ADD_BUTTON) == BS_DEFPUSHBUTTON);

    // Disabling a button that is not the default changes only its state.
    HWND focusBefore = host.focus();
    host.send(HostEnableButton, IDC_DELETE_BUTTON, FALSE);
    CHECK_FALSE(ui::isEnabled(host.dialog, IDC_DELETE_BUTTON));
    CHECK(ui::style(host.dialog, IDC_DELETE_BUTTON) == 0x58010000);
    CHECK(host.buttonKind(IDC_ADD_BUTTON) == BS_DEFPUSHBUTTON);
    CHECK(host.focus() == focusBefore);

    // Disabling the default: the next enabled push button takes over,
    // Keeping the high bits of both styles.
    host.send(HostEnableButton, IDC_ADD_BUTTON, FALSE);
    CHECK(ui::style(host.dialog, IDC_ADD_BUTTON) == 0x58030000);
    CHECK(ui::style(host.dialog, IDC_EDIT_BUTTON) == 0x50010001);
    CHECK(host.focus() == host.control(IDC_EDIT_BUTTON));

    // Disabled buttons and check boxes are passed over.
    host.send(HostEnableButton, IDC_EDIT_BUTTON, FALSE);
    CHECK(host.buttonKind(IDC_EDIT_BUTTON) == BS_PUSHBUTTON);
    CHECK(host.buttonKind(IDC_HOST_CHECK) == BS_AUTOCHECKBOX);
    CHECK(host.buttonKind(IDCANCEL) == BS_DEFPUSHBUTTON);
    CHECK(host.focus() == host.control(IDCANCEL));

    // The walk wraps round the tab order.
    host.send(HostEnableButton, IDC_ADD_BUTTON, TRUE);
    host.send(HostEnableButton, IDCANCEL, FALSE);
    CHECK(host.buttonKind(IDCANCEL) == BS_PUSHBUTTON);
    CHECK(host.buttonKind(IDC_ADD_BUTTON) == BS_DEFPUSHBUTTON);
    CHECK(host.focus() == host.control(IDC_ADD_BUTTON));
}

TEST_CASE("list notifications follow the selection, and a double-click acts as the main button")
{
    UtilityHost host;
    host.send(HostFillList, 3);
    CHECK_FALSE(host.send(HostHasSelection, IDC_SHARE_LIST));

    REQUIRE(ui::selectListLine(host.dialog, IDC_SHARE_LIST, 1));
    CHECK(ui::waitUntil([&] {
        return ui::isEnabled(host.dialog, IDC_EDIT_BUTTON) && ui::isEnabled(host.dialog, IDC_DELETE_BUTTON);
    }, 5000));
    CHECK(host.send(HostHasSelection, IDC_SHARE_LIST));

    REQUIRE(ui::notifyParent(host.dialog, IDC_SHARE_LIST, LBN_SELCANCEL));
    CHECK(ui::waitUntil([&] {
        return !ui::isEnabled(host.dialog, IDC_EDIT_BUTTON) && !ui::isEnabled(host.dialog, IDC_DELETE_BUTTON);
    }, 5000));

    REQUIRE(ui::doubleClickListLine(host.dialog, IDC_SHARE_LIST, 0));
    CHECK(host.eventBecomes("edit clicked"));

    // Other notifications change nothing.
    REQUIRE(ui::notifyParent(host.dialog, IDC_SHARE_LIST, LBN_SETFOCUS));
    ui::pump(300);
    CHECK(ui::isEnabled(host.dialog, IDC_EDIT_BUTTON));
}

// The width of a line in the dialog font of the host (8-point MS Sans Serif).
static int lineWidth(const std::string &line)
{
    HDC screen = GetDC(NULL);
    HFONT font = CreateFontA(-MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72), 0, 0, 0, FW_DONTCARE, FALSE,
                             FALSE, FALSE, DEFAULT_CHARSET, 0, 0, PROOF_QUALITY, FF_DONTCARE, "MS Sans Serif");
    HGDIOBJ previous = SelectObject(screen, font);
    SIZE extent = { 0, 0 };
    GetTextExtentPoint32A(screen, line.c_str(), (int)line.size(), &extent);
    SelectObject(screen, previous);
    DeleteObject(font);
    ReleaseDC(NULL, screen);
    return extent.cx;
}

TEST_CASE("fitListWidth sets the widest line plus the scroll bar, and 0 for an empty list")
{
    UtilityHost host;
    host.send(HostFillList, 3);
    host.send(HostFitList, IDC_SHARE_LIST);
    int widest = 0;
    for (const char *line : HostSampleLines)
        widest = std::max(widest, lineWidth(line));
    CHECK(widest > lineWidth("short"));
    CHECK(ui::listHorizontalExtent(host.dialog, IDC_SHARE_LIST) == widest + GetSystemMetrics(SM_CXVSCROLL));

    host.send(HostFillList, 1);
    host.send(HostFitList, IDC_SHARE_LIST);
    CHECK(ui::listHorizontalExtent(host.dialog, IDC_SHARE_LIST) ==
          lineWidth("short") + GetSystemMetrics(SM_CXVSCROLL));

    host.send(HostFillList, 0);
    host.send(HostFitList, IDC_SHARE_LIST);
    CHECK(ui::listHorizontalExtent(host.dialog, IDC_SHARE_LIST) == 0);
}

TEST_CASE("the caption's first letter decides edit and check mode, in any case")
{
    UtilityHost host;
    const struct {
        const char *caption;
        LRESULT modes;  // 1 edit, 2 check
    } captions[] = {
        { "Edit...", 1 }, { "edit...", 1 }, { "Add...", 0 }, { "Check NetDDE...", 2 },
        { "check", 2 }, { "Properties...", 0 }, { "", 0 }, { " Edit", 0 },
    };
    for (const auto &expected : captions) {
        CAPTURE(expected.caption);
        REQUIRE(SetWindowTextA(host.dialog, expected.caption));
        CHECK(host.send(HostModes) == expected.modes);
    }
}

TEST_CASE("the title slot takes a control's text without ampersands, at most 31 characters")
{
    UtilityHost host;
    host.send(HostTitleFromControl, IDC_HOST_AMPERSANDS);
    CHECK(ui::text(host.dialog, IDC_TITLE_SLOT) == "Save");
    host.send(HostCaptionFromTitle);
    CHECK(ui::text(host.dialog) == "Save");

    // 31 characters are read, then the ampersand goes.
    host.send(HostTitleFromControl, IDC_HOST_LONG_TEXT);
    CHECK(ui::text(host.dialog, IDC_TITLE_SLOT) == "A button text longer than thir");
    host.send(HostCaptionFromTitle);
    CHECK(ui::text(host.dialog) == "A button text longer than thir");
}

TEST_CASE("the wait cursor replaces the cursor and gives it back; without a wait the arrow returns")
{
    UtilityHost host;
    CHECK(host.send(HostCursor, CursorSetCross) == CursorCross);
    CHECK(host.send(HostCursor, CursorBeginWait) == CursorWait);
    CHECK(host.send(HostCursor, CursorEndWait) == CursorCross);
    CHECK(host.send(HostCursor, CursorEndWait) == CursorArrow);
}

TEST_CASE("invalid values are reported by kind; other kinds show nothing")
{
    UtilityHost host;
    REQUIRE(ui::setText(host.dialog, IDC_HOST_VALUE, "A$B"));
    const char *names[] = { "Share name", "Topic", "Password #1", "Password #2" };
    for (int kind = 1; kind <= 4; ++kind) {
        CAPTURE(kind);
        host.post(HostReportInvalid, kind);
        answerExclamation(host, std::string(names[kind - 1]) + " 'A$B' is invalid !");
        CHECK(host.eventBecomes("reported kind " + std::to_string(kind)));
    }
    for (int kind : { 0, 5 }) {
        CAPTURE(kind);
        host.send(HostReportInvalid, kind);
        CHECK(host.event() == "reported kind " + std::to_string(kind));
        CHECK_FALSE(ui::hasMessageBox(host.program.processId()));
    }

    // A long text is shown whole, without overrunning the message.
    std::string longTopic(300, 't');
    REQUIRE(ui::setText(host.dialog, IDC_HOST_VALUE, longTopic));
    host.post(HostReportInvalid, 2);
    answerExclamation(host, "Topic '" + longTopic + "' is invalid !", false);
}

TEST_CASE("questions are owned by and captioned with the dialog; notices have the default caption")
{
    UtilityHost host;
    REQUIRE(ui::setText(host.dialog, IDC_HOST_VALUE, "DOC$"));
    for (int answer : { IDYES, IDNO }) {
        CAPTURE(answer);
        host.post(HostAsk);
        ui::MessageBoxView box;
        REQUIRE(ui::waitForMessageBox(host.program.processId(), box));
        CHECK(box.text == "Delete share 'DOC$' ?");
        CHECK(box.caption == HOST_CAPTION);
        CHECK(box.owner == host.dialog);
        CHECK(box.icon == ui::Icon::Question);
        CHECK(box.buttons == std::vector<int>{ IDYES, IDNO });
        REQUIRE(ui::answerMessageBox(box, answer));
        CHECK(host.eventBecomes(answer == IDYES ? "answer 1" : "answer 0"));
    }

    host.post(HostNotice);
    ui::MessageBoxView box;
    REQUIRE(ui::waitForMessageBox(host.program.processId(), box));
    CHECK(box.text == "Item 'DOC$' already exists !");
    CHECK(box.caption == "Error");
    CHECK(box.owner == host.dialog);
    CHECK(box.icon == ui::Icon::Exclamation);
    REQUIRE(ui::answerMessageBox(box, IDOK));
}

TEST_CASE("reportApiError shows the library's text for the code")
{
    UtilityHost host;
    host.post(HostReportApiError, NDDE_SHARE_NOT_EXIST);
    answerExclamation(host, "NDDEAPI.DLL reports error #16.\r\n" + libraryText(NDDE_SHARE_NOT_EXIST) + ".");
    CHECK(host.eventBecomes("reported code 16"));
}

TEST_CASE("enumeration buffers grow as each call's rule says, and stop when they cannot make progress")
{
    UtilityHost host;
    const std::string tooSmall = "NDDEAPI.DLL reports error #2.\r\n" + libraryText(NDDE_BUF_TOO_SMALL) + ".";

    // Successful retries, each with a zero-filled block of the rule's size.
    {
        const struct {
            GrowScenario scenario;
            const char *event;
        } scenarios[] = {
            { GrowNamesFitSecond, "sizes 0,30 result 1 held" },
            { GrowShareRecord, "sizes 113,301 result 1 held" },
            { GrowSessions, "sizes 0,49 result 1 held" },
            { GrowConnections, "sizes 0,41 result 1 held" },
        };
        for (const auto &expected : scenarios) {
            CAPTURE(expected.scenario);
            host.post(HostGrow, expected.scenario);
            CHECK(host.eventBecomes(expected.event));
        }
    }
    // A library that asks for no more than it was offered is reported at once.
    {
        host.post(HostGrow, GrowNamesNoProgress);
        answerExclamation(host, tooSmall);
        CHECK(host.eventBecomes("sizes 0,30 result 0"));

        host.post(HostGrow, GrowSessionsWithoutCount);
        answerExclamation(host, tooSmall);
        CHECK(host.eventBecomes("sizes 0 result 0"));
    }
    // A library that always wants more is asked eight times.
    {
        host.post(HostGrow, GrowEverGrowing);
        answerExclamation(host, tooSmall);
        CHECK(host.eventBecomes("sizes 0,10,20,30,40,50,60,70 result 0"));
    }
    // A size beyond any sensible buffer is reported as out of memory.
    {
        host.post(HostGrow, GrowHugeTotal);
        answerExclamation(host, "NDDEAPI.DLL reports error #12.\r\n" + libraryText(NDDE_OUT_OF_MEMORY) + ".");
        CHECK(host.eventBecomes("sizes 0 result 0"));
    }
    // Any other code is reported after one call.
    {
        host.post(HostGrow, GrowOtherError);
        answerExclamation(host, "NDDEAPI.DLL reports error #16.\r\n" + libraryText(NDDE_SHARE_NOT_EXIST) + ".");
        CHECK(host.eventBecomes("sizes 0 result 0"));
    }
}
