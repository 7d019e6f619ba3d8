// The help files in the system's help viewer, reached the way a user reaches
// them: both front ends started from a folder of their own choosing, F1 and
// the Help menu, the viewer's Index button and a jump of the contents.
//
// With HELP_SCREENS set to a folder (a Windows path), the pictures of the
// contents, a dialog's topic and the index are saved there.
#include <doctest/doctest.h>

#include <cstdlib>
#include <fstream>
#include <set>

#include "marrowby.h"
#include "resource.h"
#include "uidriver.h"

namespace {

// The viewer's main window class and its text pane.
const char HelpWindowClass[] = "MS_WINHELP";
const int HelpTextId = 0x701;

const char ProductHelpTitle[] = "Network DDE Status Help";
const char HelpOnHelpTitle[] = "How to Use Help";

struct HelpWindow {
    HWND window = NULL;
    DWORD processId = 0;
};

BOOL CALLBACK collectHelpWindow(HWND window, LPARAM list)
{
    if (ui::className(window) == HelpWindowClass)
        ((std::vector<HWND> *)list)->push_back(window);
    return TRUE;
}

// Main windows of the help viewer, of any process, hidden ones too.
std::vector<HWND> allHelpWindows()
{
    std::vector<HWND> found;
    EnumWindows(collectHelpWindow, (LPARAM)&found);
    return found;
}

// The visible ones.
std::vector<HWND> helpWindows()
{
    std::vector<HWND> visible;
    for (HWND window : allHelpWindows())
        if (IsWindowVisible(window))
            visible.push_back(window);
    return visible;
}

// Waits for the viewer's window captioned with a help file's title.
HelpWindow waitForHelp(const std::string &title)
{
    HelpWindow help;
    ui::waitUntil([&] {
        for (HWND window : helpWindows())
            if (ui::text(window) == title)
                help.window = window;
        return help.window != NULL;
    });
    if (help.window)
        GetWindowThreadProcessId(help.window, &help.processId);
    return help;
}

bool noHelpWindowLeft()
{
    return ui::waitUntil([] { return helpWindows().empty(); });
}

// Ends the help viewer at the end of a test, whatever happened, also one
// that waits in a message box: a viewer left running would keep the test
// run's output open.
struct ViewerCleanup {
    ~ViewerCleanup()
    {
        for (HWND window : helpWindows())
            PostMessageA(window, WM_CLOSE, 0, 0);
        ui::waitUntil([] { return allHelpWindows().empty(); }, 5000);
        for (HWND window : allHelpWindows()) {
            DWORD processId = 0;
            GetWindowThreadProcessId(window, &processId);
            HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, processId);
            if (process) {
                TerminateProcess(process, 1);
                CloseHandle(process);
            }
        }
    }
};

// The text the viewer shows, with each paragraph end as one "\r", the way
// the text pane counts characters.
std::string shownText(HWND help)
{
    std::string text = ui::text(help, HelpTextId);
    std::string counted;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\n' && i > 0 && text[i - 1] == '\r'))
            counted += text[i];
    return counted;
}

bool showsTopic(HWND help, const std::string &title)
{
    return ui::waitUntil([&] { return shownText(help).compare(0, title.size(), title) == 0; }, 5000);
}

// Clicks the middle of the first appearance of `label` in the text pane,
// as the mouse does.
bool clickText(HWND help, const std::string &label)
{
    HWND pane = GetDlgItem(help, HelpTextId);
    size_t at = shownText(help).find(label);
    if (!pane || at == std::string::npos)
        return false;
    // The rich edit control answers with the character's position when
    // asked with the character's index alone.
    DWORD_PTR position = 0;
    if (!SendMessageTimeoutA(pane, EM_POSFROMCHAR, at + label.size() / 2, 0, SMTO_ABORTIFHUNG, 5000, &position))
        return false;
    LPARAM point = MAKELPARAM(LOWORD(position) + 1, HIWORD(position) + 4);
    return PostMessageA(pane, WM_LBUTTONDOWN, MK_LBUTTON, point) && PostMessageA(pane, WM_LBUTTONUP, 0, point);
}

// The push button of the viewer's button bar with that text.
HWND viewerButton(HWND help, const std::string &caption)
{
    for (HWND child : ui::children(help))
        if (ui::className(child) == "Button" && ui::text(child) == caption)
            return child;
    return NULL;
}

// The index the viewer's Index button opens: a property sheet owned by the
// viewer, with the keywords in a list box.
HWND openIndex(const HelpWindow &help, HWND &list)
{
    HWND button = viewerButton(help.window, "&Index");
    if (!button || !ui::clickButton(GetParent(button), GetDlgCtrlID(button)))
        return NULL;
    HWND sheet = NULL;
    ui::waitUntil([&] {
        for (HWND window : ui::topLevelWindows(help.processId))
            if (ui::className(window) == "#32770" && ui::owner(window) == help.window)
                sheet = window;
        return sheet != NULL;
    });
    list = NULL;
    ui::waitUntil([&] {
        for (HWND child : sheet ? ui::children(sheet) : std::vector<HWND>())
            if (ui::className(child) == "ListBox" && IsWindowVisible(child))
                list = child;
        return list && ui::listCount(GetParent(list), GetDlgCtrlID(list)) > 0;
    }, 5000);
    return sheet;
}

// Every keyword of a help source: the ';'-separated words of its
// "@keywords" lines.
std::set<std::string> sourceKeywords(const std::string &path)
{
    std::set<std::string> words;
    std::ifstream source(path.c_str());
    std::string line;
    const std::string directive = "@keywords ";
    while (std::getline(source, line)) {
        if (line.compare(0, directive.size(), directive) != 0)
            continue;
        std::string rest = line.substr(directive.size()) + ";";
        for (size_t start = 0, end; (end = rest.find(';', start)) != std::string::npos; start = end + 1) {
            std::string word = rest.substr(start, end - start);
            word.erase(0, word.find_first_not_of(' '));
            word.erase(word.find_last_not_of(" \r") + 1);
            words.insert(word);
        }
    }
    return words;
}

// Saves a picture of the screen when pictures are asked for.
void picture(const char *name)
{
    const char *folder = getenv("HELP_SCREENS");
    if (!folder || !*folder)
        return;
    ui::pump(500);  // the viewer's button bar paints last
    ui::saveScreen(std::string(folder) + "\\" + name + ".bmp");
}

// The viewer opened by a front end: captioned with the help file's title,
// showing its contents topic, with no question about the file's place.
HelpWindow checkHelpOpened(const std::string &title)
{
    HelpWindow help = waitForHelp(title);
    REQUIRE(help.window != NULL);
    CHECK_FALSE(ui::hasMessageBox(help.processId));
    CHECK(showsTopic(help.window, title));
    return help;
}

// A front end started from a folder that is not its own.
struct FrontEnd {
    ui::Program program;
    HWND main = NULL;
    std::string workingFolder = ui::makeScratchDirectory("help-elsewhere");

    bool start(const char *file, const char *windowClass)
    {
        if (!program.start(ui::pathBeside(file), "", workingFolder))
            return false;
        main = ui::waitForWindow(program.processId(), windowClass, "32-bit Network DDE Status");
        return main != NULL;
    }
    ~FrontEnd()
    {
        program.stop();
        ui::removeDirectory(workingFolder);
    }
};

} // namespace

TEST_CASE("F1 in quorvstat started elsewhere shows the contents; a jump, the index and help on help work")
{
    REQUIRE(noHelpWindowLeft());
    ViewerCleanup cleanup;
    FrontEnd status;
    REQUIRE(status.start("quorvstat.exe", "Quorvane"));

    REQUIRE(ui::pressKey(status.main, VK_F1));
    HelpWindow help = checkHelpOpened(ProductHelpTitle);
    picture("contents");

    // A jump of the contents reaches the topic it names.
    REQUIRE(clickText(help.window, "The share editor (Add, Edit)"));
    CHECK(showsTopic(help.window, "The share editor (Add, Edit)"));
    CHECK(shownText(help.window).find("Share name 'NAME' is invalid !") != std::string::npos);
    picture("dialog-topic");

    // The index lists every keyword of the source, and nothing else.
    HWND list = NULL;
    HWND index = openIndex(help, list);
    REQUIRE(index != NULL);
    REQUIRE(list != NULL);
    std::vector<std::string> lines = ui::listLines(GetParent(list), GetDlgCtrlID(list));
    std::set<std::string> keywords = sourceKeywords(HELP_SOURCE_FOLDER "quorvhelp.txt");
    CHECK(std::set<std::string>(lines.begin(), lines.end()) == keywords);
    CHECK(lines.size() == keywords.size());
    picture("index");
    REQUIRE(ui::closeWindow(index));
    REQUIRE(ui::waitForWindowToClose(index));

    // Help on help opens the other file in the same viewer.
    REQUIRE(ui::chooseCommand(status.main, IDM_HELP_ON_HELP));
    checkHelpOpened(HelpOnHelpTitle);

    // Closing the program closes its help.
    REQUIRE(ui::closeWindow(status.main));
    REQUIRE(status.program.waitForExit());
    CHECK(noHelpWindowLeft());
}

TEST_CASE("F1 and How To Use Help in Marrowby started elsewhere open the two help files")
{
    REQUIRE(noHelpWindowLeft());
    ViewerCleanup cleanup;
    FrontEnd marrowby;
    REQUIRE(marrowby.start("Marrowby.exe", nullptr));

    REQUIRE(ui::pressKey(marrowby.main, VK_F1));
    checkHelpOpened(ProductHelpTitle);

    REQUIRE(ui::chooseCommand(marrowby.main, MenuFirstId + wndMain::mnuHelpOnHelp));
    HelpWindow helpOnHelp = checkHelpOpened(HelpOnHelpTitle);

    // The viewer closes when asked, like a user's close box.
    REQUIRE(ui::closeWindow(helpOnHelp.window));
    CHECK(noHelpWindowLeft());
}
