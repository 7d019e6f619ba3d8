// Marrowby's main window, driven from outside: start-up and the binding of
// the library, the command title, Show Name, About, help and Exit.
#include <doctest/doctest.h>

#include <tessaflat.h>

#include "marrowby_driver.h"

using md::controlId;

TEST_SUITE("shell") {

TEST_CASE("the main window's client area is its picture and no command runs at start")
{
    md::Marrowby marrowby;
    REQUIRE(marrowby.start());
    RECT client = ui::clientRect(marrowby.mainWindow);
    CHECK(client.right - client.left == 400);
    CHECK(client.bottom - client.top == 300);
    CHECK(ui::text(marrowby.mainWindow, controlId(wndMain::Label1)) == "Quorvane");
    CHECK(marrowby.commandTitle().empty());
}

TEST_CASE("Show Name shows the node name under its command title, without the ampersand")
{
    char node[16] = "";
    REQUIRE(NDdeGetNodeName(node, sizeof node) == 0);
    md::Marrowby marrowby;
    REQUIRE(marrowby.start());
    REQUIRE(marrowby.choose(wndMain::mnuShowName));
    ui::MessageBoxView box;
    REQUIRE(ui::waitForMessageBox(marrowby.processId(), box));
    CHECK(marrowby.commandTitle() == "Show Name");
    CHECK(box.text == std::string("My node name is '") + node + "'.");
    CHECK(box.caption == "Show Name");
    CHECK(box.icon == ui::Icon::Information);
    CHECK(box.buttons == std::vector<int>{IDOK});
    CHECK(box.owner == marrowby.mainWindow);
    REQUIRE(ui::answerMessageBox(box, IDOK));
    CHECK(marrowby.waitForCommandTitle(""));
}

TEST_CASE("About opens modal over the main window, captioned with its command title")
{
    md::Marrowby marrowby;
    REQUIRE(marrowby.start());
    HWND about = marrowby.open(wndMain::mnuAbout, "About...");
    REQUIRE(about != NULL);
    CHECK(marrowby.commandTitle() == "About...");
    CHECK(ui::owner(about) == marrowby.mainWindow);
    CHECK_FALSE(IsWindowEnabled(marrowby.mainWindow));
    RECT client = ui::clientRect(about);
    CHECK(client.right - client.left == 250);
    CHECK(client.bottom - client.top == 99);
    CHECK(ui::text(about, controlId(dlgAbout::Label1)) == "Network DDE Status version 1.02");
    CHECK(ui::isDefaultButton(about, controlId(dlgAbout::btnOK)));
    REQUIRE(ui::clickButton(about, controlId(dlgAbout::btnOK)));
    CHECK(ui::waitForWindowToClose(about));
    CHECK(marrowby.waitForCommandTitle(""));
    CHECK(ui::waitUntil([&] { return IsWindowEnabled(marrowby.mainWindow) != FALSE; }));

    // Escape closes it as OK does.
    about = marrowby.open(wndMain::mnuAbout, "About...");
    REQUIRE(about != NULL);
    REQUIRE(ui::pressKey(about, VK_ESCAPE));
    CHECK(ui::waitForWindowToClose(about));
    CHECK(marrowby.waitForCommandTitle(""));
    CHECK(ui::waitUntil([&] { return IsWindowEnabled(marrowby.mainWindow) != FALSE; }));
}

TEST_CASE("help opens the contents of the product's help file and of help on help")
{
    ui::HelpEngineStandIn helpEngine;
    REQUIRE(helpEngine.isReady());
    std::vector<std::string> titlesMeanwhile;
    md::Marrowby marrowby;
    REQUIRE(marrowby.start());
    helpEngine.onRequest = [&](const ui::HelpRequest &) { titlesMeanwhile.push_back(marrowby.commandTitle()); };

    REQUIRE(marrowby.choose(wndMain::mnuContents));
    REQUIRE(ui::waitUntil([&] { return helpEngine.requests.size() == 1; }));
    REQUIRE(ui::pressKey(marrowby.mainWindow, VK_F1));
    REQUIRE(ui::waitUntil([&] { return helpEngine.requests.size() == 2; }));
    REQUIRE(marrowby.choose(wndMain::mnuHelpOnHelp));
    REQUIRE(ui::waitUntil([&] { return helpEngine.requests.size() == 3; }));

    const char *files[] = {"quorvhelp.hlp", "quorvhelp.hlp", "winhelp.hlp"};
    for (int i = 0; i < 3; i++) {
        CHECK(helpEngine.requests[i].command == HELP_CONTENTS);
        CHECK(helpEngine.requests[i].file == files[i]);
        CHECK(helpEngine.requests[i].caller == marrowby.mainWindow);
    }
    CHECK(titlesMeanwhile == std::vector<std::string>{"", "", ""});
}

TEST_CASE("Exit and the close box end the program")
{
    ui::Program program;
    REQUIRE(program.start(ui::pathBeside("Marrowby.exe")));
    HWND mainWindow = ui::waitForWindow(program.processId(), nullptr, "32-bit Network DDE Status");
    REQUIRE(mainWindow != NULL);
    SUBCASE("Exit")
    {
        REQUIRE(ui::chooseCommand(mainWindow, md::commandId(wndMain::mnuExit)));
    }
    SUBCASE("the close box")
    {
        REQUIRE(ui::closeWindow(mainWindow));
    }
    SUBCASE("a close sent by another program, as a setup program does")
    {
        DWORD_PTR answer = 0;
        REQUIRE(SendMessageTimeoutA(mainWindow, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer));
    }
    DWORD exitCode = 1;
    REQUIRE(program.waitForExit(&exitCode));
    CHECK(exitCode == 0);
}

// Starts the program from a folder holding `library` as its Tessaflat.dll
// (none when empty) and reads the message it ends with.
static void CheckBindingFailure(const std::string &library, const std::string &expectedText)
{
    std::string folder = ui::makeScratchDirectory("marrowby-binding");
    REQUIRE(!folder.empty());
    REQUIRE(ui::copyFileInto(ui::pathBeside("Marrowby.exe"), folder));
    if (!library.empty())
        REQUIRE(CopyFileA(library.c_str(), (folder + "Tessaflat.dll").c_str(), FALSE));
    {
        ui::Program program;
        REQUIRE(program.start(folder + "Marrowby.exe"));
        ui::MessageBoxView box;
        REQUIRE(ui::waitForMessageBox(program.processId(), box));
        CHECK(box.text == expectedText);
        CHECK(box.caption == "Marrowby");
        CHECK(box.icon == ui::Icon::Stop);
        // The main window never showed.
        for (HWND window : ui::topLevelWindows(program.processId()))
            CHECK(window == box.window);
        REQUIRE(ui::answerMessageBox(box, IDOK));
        DWORD exitCode = 0;
        REQUIRE(program.waitForExit(&exitCode));
        CHECK(exitCode == 1);
    }
    ui::removeDirectory(folder);
}

TEST_CASE("a library that cannot be bound is named and the program ends before its main window shows")
{
    SUBCASE("no Tessaflat.dll")
    {
        CheckBindingFailure("", "The library 'Tessaflat' cannot be loaded.");
    }
    SUBCASE("a Tessaflat.dll without the functions")
    {
        CheckBindingFailure(ui::pathBeside("marrowby-empty\\Tessaflat.dll"),
                            "The function 'NDdeIsValidShareName' cannot be found in the library 'Tessaflat'.");
    }
}

}
