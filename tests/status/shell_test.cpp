// The status program's shell, driven from outside: start-up, the main window
// and its banner, the title slot around every command, Show Name, About,
// help, closing, error reports and start-up without the library.
#include <doctest/doctest.h>

#include "status_program.h"
#include "tessaflat.h"

static std::string libraryText(UINT code)
{
    char text[128] = "";
    REQUIRE(NDdeGetErrorString(code, text, sizeof text) == NDDE_NO_ERROR);
    return text;
}

static std::string errorReport(UINT code, const std::string &text)
{
    return "NDDEAPI.DLL reports error #" + std::to_string(code) + ".\r\n" + text + ".";
}

// Checks an error report box and closes it.
static void answerErrorReport(StatusProgram &status, const std::string &expectedText)
{
    ui::MessageBoxView box;
    REQUIRE(ui::waitForMessageBox(status.processId(), box));
    CHECK(box.text == expectedText);
    CHECK(box.caption == "Error");
    CHECK(box.icon == ui::Icon::Exclamation);
    CHECK(box.owner == nullptr);
    CHECK(box.buttons == std::vector<int>{ IDOK });
    REQUIRE(ui::answerMessageBox(box, IDOK));
}

static DWORD rgb(COLORREF colour)
{
    return (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
}

TEST_CASE("start-up shows the main window sized to the banner, with its menu and a hidden title slot")
{
    StatusProgram status;
    REQUIRE(status.start());

    RECT client = ui::clientRect(status.main);
    CHECK(client.right == 400);
    CHECK(client.bottom == 300);
    LONG style = ui::style(status.main);
    CHECK((style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE)) ==
          (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE));
    CHECK((style & (WS_MAXIMIZEBOX | WS_THICKFRAME)) == 0);
    CHECK(GetMenu(status.main) != nullptr);

    HWND slot = GetDlgItem(status.main, IDC_TITLE_SLOT);
    REQUIRE(slot != nullptr);
    CHECK(ui::className(slot) == "Static");
    CHECK_FALSE(IsWindowVisible(slot));
    CHECK(status.title() == "");
}

TEST_CASE("the banner shows the picture in the caption colour and the product name in red")
{
    StatusProgram status;
    REQUIRE(status.start());
    int width = 0, height = 0;
    std::vector<DWORD> pixels;
    DWORD red = 0xFF0000;
    // Wait for the first paint to reach the screen.
    REQUIRE(ui::waitUntil([&] {
        pixels = ui::captureClientArea(status.main, width, height);
        return width == 400 && height == 300 && std::count(pixels.begin(), pixels.end(), red) > 200;
    }));

    // The picture's frame is drawn in the caption colour; its inside is white.
    CHECK(pixels[2 * width + 2] == rgb(GetSysColor(COLOR_ACTIVECAPTION)));
    CHECK(pixels[297 * width + 200] == rgb(GetSysColor(COLOR_ACTIVECAPTION)));
    CHECK(pixels[140 * width + 30] == 0xFFFFFF);
    CHECK(pixels[250 * width + 20] == 0xFFFFFF);

    // The name: large red letters centred across the width, their middle at
    // A quarter of the height.
    int left = width, right = -1, top = height, bottom = -1;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (pixels[y * width + x] == red) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    CHECK(std::abs((left + right) / 2 - 200) <= 15);
    CHECK(std::abs((top + bottom) / 2 - 75) <= 12);
    CHECK(bottom - top >= 30);
    CHECK(right - left >= 150);
}

TEST_CASE("each command shows its title without ampersands while it runs and clears it afterwards")
{
    REQUIRE_FALSE(IsWindow(NDdeGetWindow()));
    StatusProgram status;
    REQUIRE(status.start());

    // Dialogs are captioned with the command's title.
    {
        const struct {
            int command;
            const char *title;
        } dialogs[] = {
            { IDM_LIST_SHARES, "List Shares..." },
            { IDM_LIST_TASKS, "List Tasks..." },
            { IDM_ABOUT, "About..." },
        };
        for (const auto &command : dialogs) {
            CAPTURE(command.title);
            REQUIRE(ui::chooseCommand(status.main, command.command));
            HWND dialog = ui::waitForDialog(status.processId(), command.title);
            REQUIRE(dialog != nullptr);
            CHECK(ui::owner(dialog) == status.main);
            CHECK(status.title() == command.title);
            REQUIRE(ui::closeWindow(dialog));
            REQUIRE(ui::waitForWindowToClose(dialog));
            CHECK(status.titleBecomes(""));
        }
    }
    // Check Net&DDE... runs in check mode and reports the missing agent.
    {
        REQUIRE(ui::chooseCommand(status.main, IDM_CHECK_NETDDE));
        ui::MessageBoxView box;
        REQUIRE(ui::waitForMessageBox(status.processId(), box));
        CHECK(status.title() == "Check NetDDE...");
        CHECK(box.text == errorReport(NDDE_NOT_RUNNING, libraryText(NDDE_NOT_RUNNING)));
        REQUIRE(ui::answerMessageBox(box, IDOK));
        CHECK(status.titleBecomes(""));
    }
    // List &Sessions... reports the missing agent under its title.
    {
        REQUIRE(ui::chooseCommand(status.main, IDM_LIST_SESSIONS));
        ui::MessageBoxView box;
        REQUIRE(ui::waitForMessageBox(status.processId(), box));
        CHECK(status.title() == "List Sessions...");
        answerErrorReport(status, errorReport(NDDE_NOT_RUNNING, libraryText(NDDE_NOT_RUNNING)));
        CHECK(status.titleBecomes(""));
    }
    // A command without a menu item changes nothing.
    {
        REQUIRE(ui::chooseCommand(status.main, 99));
        ui::pump(500);
        CHECK(status.title() == "");
        CHECK(ui::topLevelWindows(status.processId()) == std::vector<HWND>{ status.main });
    }
}

TEST_CASE("Show Name shows the node name, captioned with the command and owned by the main window")
{
    char nodeName[16] = "";
    REQUIRE(NDdeGetNodeName(nodeName, sizeof nodeName) == NDDE_NO_ERROR);
    StatusProgram status;
    REQUIRE(status.start());

    REQUIRE(ui::chooseCommand(status.main, IDM_SHOW_NAME));
    ui::MessageBoxView box;
    REQUIRE(ui::waitForMessageBox(status.processId(), box));
    CHECK(box.text == std::string("My node name is '") + nodeName + "'.");
    CHECK(box.caption == "Show Name");
    CHECK(box.icon == ui::Icon::Information);
    CHECK(box.owner == status.main);
    CHECK(box.buttons == std::vector<int>{ IDOK });
    CHECK(status.title() == "Show Name");
    REQUIRE(ui::answerMessageBox(box, IDOK));
    CHECK(status.titleBecomes(""));
}

TEST_CASE("the About box shows the version and the credits and closes with OK or Escape")
{
    StatusProgram status;
    REQUIRE(status.start());

    for (int closeWith : { IDOK, IDCANCEL }) {
        CAPTURE(closeWith);
        REQUIRE(ui::chooseCommand(status.main, IDM_ABOUT));
        HWND about = ui::waitForDialog(status.processId(), "About...");
        REQUIRE(about != nullptr);

        std::vector<std::string> texts;
        HWND icon = NULL;
        for (HWND child : ui::children(about)) {
            texts.push_back(ui::text(child));
            if ((ui::style(child) & SS_TYPEMASK) == SS_ICON && ui::className(child) == "Static")
                icon = child;
        }
        CHECK(std::count(texts.begin(), texts.end(), "Network DDE Status\nversion 1.02") == 1);
        CHECK(std::count(texts.begin(), texts.end(), "NetworkDdeShares\nMinGW-w64, CMake") == 1);
        REQUIRE(icon != nullptr);
        CHECK(SendMessageA(icon, STM_GETICON, 0, 0) != 0);
        CHECK(ui::text(about, IDOK) == "OK");
        CHECK(ui::isDefaultButton(about, IDOK));

        if (closeWith == IDOK)
            REQUIRE(ui::clickButton(about, IDOK));
        else
            REQUIRE(ui::pressKey(about, VK_ESCAPE));
        CHECK(ui::waitForWindowToClose(about));
        CHECK(status.titleBecomes(""));
    }
}

TEST_CASE("help commands open the two help files; F1 works only while no dialog is open")
{
    ui::HelpEngineStandIn help;
    REQUIRE(help.isReady());
    StatusProgram status;
    REQUIRE(status.start());
    std::vector<std::string> titlesDuringHelp;
    help.onRequest = [&](const ui::HelpRequest &) { titlesDuringHelp.push_back(status.title()); };

    REQUIRE(ui::pressKey(status.main, VK_F1));
    REQUIRE(ui::waitUntil([&] { return help.requests.size() == 1; }));
    CHECK(help.requests[0].command == HELP_CONTENTS);
    CHECK(help.requests[0].file == "quorvhelp.hlp");
    CHECK(help.requests[0].caller == status.main);
    CHECK(titlesDuringHelp[0] == "Contents... \tF1");
    CHECK(status.titleBecomes(""));

    REQUIRE(ui::chooseCommand(status.main, IDM_HELP_CONTENTS));
    REQUIRE(ui::waitUntil([&] { return help.requests.size() == 2; }));
    CHECK(help.requests[1].file == "quorvhelp.hlp");

    REQUIRE(ui::chooseCommand(status.main, IDM_HELP_ON_HELP));
    REQUIRE(ui::waitUntil([&] { return help.requests.size() == 3; }));
    CHECK(help.requests[2].command == HELP_CONTENTS);
    CHECK(help.requests[2].file == "winhelp.hlp");
    CHECK(titlesDuringHelp[2] == "How to Use Help...");
    CHECK(status.titleBecomes(""));

    // Inside a dialog F1 is an ordinary key: no help is asked for.
    REQUIRE(ui::chooseCommand(status.main, IDM_ABOUT));
    HWND about = ui::waitForDialog(status.processId(), "About...");
    REQUIRE(about != nullptr);
    REQUIRE(ui::pressKey(about, VK_F1));
    ui::pump(1500);
    CHECK(help.requests.size() == 3);
    CHECK(status.title() == "About...");
    REQUIRE(ui::clickButton(about, IDOK));
    CHECK(ui::waitForWindowToClose(about));
}

TEST_CASE("Exit and the close box close this program's help first and end with exit code 0")
{
    for (bool useCloseBox : { false, true }) {
        CAPTURE(useCloseBox);
        ui::HelpEngineStandIn help;
        StatusProgram status;
        REQUIRE(status.start());
        bool mainWindowShownAtQuit = false;
        help.onRequest = [&](const ui::HelpRequest &) { mainWindowShownAtQuit = IsWindowVisible(status.main) != 0; };

        if (useCloseBox)
            REQUIRE(ui::closeWindow(status.main));
        else
            REQUIRE(ui::chooseCommand(status.main, IDM_EXIT));
        DWORD exitCode = 1;
        REQUIRE(status.program.waitForExit(&exitCode));
        CHECK(exitCode == 0);
        REQUIRE(help.requests.size() == 1);
        CHECK(help.requests[0].command == HELP_QUIT);
        CHECK(help.requests[0].file == "");
        CHECK(help.requests[0].caller == status.main);
        CHECK(mainWindowShownAtQuit);
    }
}

// A folder with the program, the library and the scripted partner of the
// error-report tests.
static std::string scriptedErrorsDirectory()
{
    std::string directory = ui::makeScratchDirectory("status-errors");
    REQUIRE(ui::copyFileInto(ui::pathBeside(StatusProgramFile), directory));
    REQUIRE(ui::copyFileInto(ui::pathBeside("Tessaflat.dll"), directory));
    REQUIRE(ui::copyFileInto(ui::pathBeside("status-errors\\Tessaseg.dll"), directory));
    return directory;
}

TEST_CASE("a library error is reported with its code and text, following the library's chain of codes")
{
    std::string directory = scriptedErrorsDirectory();
    const struct {
        const char *failure;
        UINT reportedCode;
        const char *text;
    } cases[] = {
        { "16", 16, "scripted text 16" },
        // The library names 41 instead of 40, and gives 41 a text.
        { "40", 41, "scripted text 41" },
        // Chains that never reach a text end when a code comes round again
        // or after four steps, with a text of the program's own.
        { "50", 50, "No text is known for this code" },
        { "60", 60, "No text is known for this code" },
        { "70", 74, "No text is known for this code" },
    };
    for (const auto &scripted : cases) {
        CAPTURE(scripted.failure);
        SetEnvironmentVariableA("NODE_NAME_RESULT", scripted.failure);
        StatusProgram status;
        REQUIRE(status.start(directory));
        REQUIRE(ui::chooseCommand(status.main, IDM_SHOW_NAME));
        answerErrorReport(status, errorReport(scripted.reportedCode, scripted.text));
        CHECK(status.titleBecomes(""));
        CHECK(status.program.isRunning());
    }
    SetEnvironmentVariableA("NODE_NAME_RESULT", NULL);
    ui::removeDirectory(directory);
}

TEST_CASE("a node name that fills the whole buffer is shown cut to its terminator")
{
    std::string directory = scriptedErrorsDirectory();
    SetEnvironmentVariableA("NODE_NAME_RESULT", NULL);
    {
        StatusProgram status;
        REQUIRE(status.start(directory));
        REQUIRE(ui::chooseCommand(status.main, IDM_SHOW_NAME));
        ui::MessageBoxView box;
        REQUIRE(ui::waitForMessageBox(status.processId(), box));
        CHECK(box.text == "My node name is 'ABCDEFGHIJKLMNO'.");
        REQUIRE(ui::answerMessageBox(box, IDOK));
    }
    ui::removeDirectory(directory);
}

TEST_CASE("without Tessaflat.dll beside it the program does not start")
{
    std::string directory = ui::makeScratchDirectory("status-alone");
    REQUIRE(ui::copyFileInto(ui::pathBeside(StatusProgramFile), directory));
    {
        ui::Program alone;
        REQUIRE(alone.start(directory + StatusProgramFile));
        DWORD exitCode = 0;
        REQUIRE(alone.waitForExit(&exitCode));
        CHECK(exitCode != 0);
        CHECK(ui::waitForWindow(alone.processId(), MainWindowClass, nullptr, 0) == nullptr);
    }
    ui::removeDirectory(directory);
}
