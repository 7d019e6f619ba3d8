// wndMain: Marrowby's main window. It shows the banner (the web picture with
// the product name over it), offers the commands in its menu and keeps the
// command title in its hidden label lblMenuCmd.
#include "marrowby.h"
#include "modMain.h"
#include "resource.h"

namespace wndMain {

static HelpStarter cdlHelp;

static void Form_Load()
{
    // The first library call binds Tessaflat: without the library the
    // program ends here, before its window is shown.
    Tessaflat::NDdeIsValidShareName(nullptr);
    SizeMainToPicture();
    SelectComputerFromCommand(Command());
}

// The picture at the client origin, its black pixels in the fill colour:
// brush OR source.
static void Form_Paint(HDC dc)
{
    const DWORD BrushOrSource = 0x00FC008A;
    HBITMAP web = (HBITMAP)SendMessageA(form[Web], STM_GETIMAGE, IMAGE_BITMAP, 0);
    BITMAP picture = {};
    GetObjectA(web, sizeof picture, &picture);
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ previousBitmap = SelectObject(source, web);
    HGDIOBJ previousBrush = SelectObject(dc, GetSysColorBrush(form.design.backColor));
    BitBlt(dc, 0, 0, picture.bmWidth, picture.bmHeight, source, 0, 0, BrushOrSource);
    SelectObject(dc, previousBrush);
    SelectObject(source, previousBitmap);
    DeleteDC(source);
}

// Setting the text again runs this handler again, until no "&" is left.
static void lblMenuCmd_Change()
{
    std::string title = GetText(form[lblMenuCmd]);
    if (StripAmpersand(title))
        SetText(form[lblMenuCmd], title);
}

static void mnuListShares_Click()
{
    OpenCommandDialog(dlgListShares::form, form, MenuCaption(form, mnuListShares));
}

static void mnuShowName_Click()
{
    SetCommandTitle(MenuCaption(form, mnuShowName));
    ShowNodeName();
    SetCommandTitle("");
}

static void mnuShowSessions_Click()
{
    OpenCommandDialog(dlgListSessions::form, form, MenuCaption(form, mnuShowSessions));
}

static void mnuListTasks_Click()
{
    OpenCommandDialog(dlgListTasks::form, form, MenuCaption(form, mnuListTasks));
}

static void mnuCheckNetDDE_Click()
{
    OpenCommandDialog(dlgCheckTask::form, form, MenuCaption(form, mnuCheckNetDDE));
}

static void mnuSelectComputer_Click()
{
    SetCommandTitle(MenuCaption(form, mnuSelectComputer));
    ShowModal(dlgSelectComputer::form, form);
    SetCommandTitle("");
}

static void mnuExit_Click()
{
    EndProgram(0);
}

static void ShowHelpContents(const char *helpFile)
{
    cdlHelp.helpFile = helpFile;
    cdlHelp.helpCommand = HELP_CONTENTS;
    ShowHelp(cdlHelp, form);
}

static void mnuContents_Click()
{
    ShowHelpContents("quorvhelp.hlp");
}

static void mnuHelpOnHelp_Click()
{
    ShowHelpContents("winhelp.hlp");
}

static void mnuAbout_Click()
{
    SetCommandTitle(MenuCaption(form, mnuAbout));
    ShowModal(dlgAbout::form, form);
    SetCommandTitle("");
}

static const FontDesign productNameFont = {"Britannic Bold", 48, FW_BOLD, true, RGB(255, 0, 0)};

static const ControlDesign controls[] = {
    {Image, "Web", MAKEINTRESOURCEA(IDB_WEB), 0, 0, 400, 300, Invisible},
    {Label, "Label1", "Quorvane", 0, 40, 401, 73, AlignCenter | Transparent, &productNameFont},
    {Label, "lblMenuCmd", "", 0, 0, 100, 17, Invisible},
};

static const EventBinding events[] = {
    {lblMenuCmd, Change, lblMenuCmd_Change},
};

static const MenuDesign menu[] = {
    {0, "mnuStatus", "&Status"},
    {1, "mnuListShares", "&List Shares...", mnuListShares_Click},
    {1, "mnuShowSessions", "List &Sessions...", mnuShowSessions_Click},
    {1, "mnuSeparator0", "-"},
    {1, "mnuShowName", "Show &Name", mnuShowName_Click},
    {1, "mnuListTasks", "List &Tasks...", mnuListTasks_Click},
    {1, "mnuCheckNetDDE", "Check Net&DDE...", mnuCheckNetDDE_Click},
    {1, "mnuSelectComputer", "Select &Computer...", mnuSelectComputer_Click},
    {1, "mnuSeparator1", "-"},
    {1, "mnuExit", "E&xit", mnuExit_Click},
    {0, "mnuHelp", "&Help"},
    {1, "mnuContents", "Contents...", mnuContents_Click, VK_F1},
    {1, "mnuHelpOnHelp", "&How To Use Help...", mnuHelpOnHelp_Click},
    {1, "mnuSeparator2", "-"},
    {1, "mnuAbout", "&About...", mnuAbout_Click},
};

static const FormDesign design = {
    .name = "wndMain",
    .caption = "32-bit Network DDE Status",
    .border = FixedSingle,
    .units = Pixels,
    .left = 80, .top = 60, .width = 400, .height = 300,
    .controls = Table(controls),
    .events = Table(events),
    .menu = Table(menu),
    .load = Form_Load,
    .paint = Form_Paint,
    .backColor = COLOR_ACTIVECAPTION,
    .icon = IDI_MARROWBY,
};

Form form = {design};

}
