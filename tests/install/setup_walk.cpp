// Walks through every page of the setup program, and then of the uninstaller
// it installed, pressing Next as a user does, and saves a picture of the
// screen at each page. Used by `tools/package --screens` on a virtual display.
//   setup_walk.exe SETUP.EXE SCREENS-FOLDER
// Exit code 0 when both wizards ran to their end, 1 otherwise (the step is
// named).
#include <stdio.h>

#include <string>

#include "uidriver.h"

namespace {

// Control ids of the setup wizards' outer window and pages.
const int NextButton = 1;
const int PageHeaderTitle = 1037;       // the header of the inner pages
const int FinishRunCheckBox = 1203;     // "Start ... now" on the last page
const int MaxPages = 10;
const char UninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\NetworkDdeShares";

// The visible wizard window whose title holds `word` ("Setup", "Uninstall").
struct WizardSearch {
    std::string word;
    HWND found;
};

BOOL CALLBACK matchWizard(HWND window, LPARAM data)
{
    WizardSearch *search = (WizardSearch *)data;
    std::string title = ui::text(window);
    if (IsWindowVisible(window) && ui::className(window) == "#32770" && title.find(search->word) != std::string::npos) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND findWizard(const std::string &word)
{
    WizardSearch search = {word, NULL};
    EnumWindows(matchWizard, (LPARAM)&search);
    return search.found;
}

HWND waitForWizard(const std::string &word)
{
    HWND wizard = NULL;
    ui::waitUntil([&] { return (wizard = findWizard(word)) != NULL; });
    return wizard;
}

// The page shown inside the wizard (a child dialog).
HWND currentPage(HWND wizard)
{
    for (HWND child : ui::children(wizard))
        if (GetParent(child) == wizard && ui::className(child) == "#32770" && IsWindowVisible(child))
            return child;
    return NULL;
}

// Saves each page as PREFIX-NN.bmp and presses Next until the wizard closes.
// The page that copies or removes files is left only once its Next button
// comes back; the last page's offer to start the programs is declined.
bool walkPages(HWND wizard, const std::string &folder, const char *prefix)
{
    for (int page = 1; page <= MaxPages; ++page) {
        if (!ui::waitUntil([&] { return ui::isEnabled(wizard, NextButton); }, 120000))
            return false;
        ui::pump(1000);  // let the page paint
        char path[MAX_PATH];
        wsprintfA(path, "%s\\%s-%02d.bmp", folder.c_str(), prefix, page);
        if (!ui::saveScreen(path))
            return false;
        HWND inner = currentPage(wizard);
        printf("%s: %s\n", path, ui::text(wizard, PageHeaderTitle).c_str());
        if (inner && GetDlgItem(inner, FinishRunCheckBox))
            ui::setChecked(inner, FinishRunCheckBox, false);
        if (!ui::clickButton(wizard, NextButton))
            return false;
        // The wizard hides itself for a moment while it changes pages: only
        // a destroyed window means it has ended.
        if (ui::waitUntil([&] { return !IsWindow(wizard); }, 1500))
            return true;
    }
    return false;
}

// The uninstaller the setup program registered, without its quotes.
std::string uninstallerPath()
{
    char command[MAX_PATH] = "";
    DWORD size = sizeof command;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "";
    RegQueryValueExA(key, "UninstallString", NULL, NULL, (BYTE *)command, &size);
    RegCloseKey(key);
    std::string path = command;
    if (path.size() > 2 && path.front() == '"')
        path = path.substr(1, path.size() - 2);
    return path;
}

// Names the step that failed and keeps a picture of the screen then.
int failed(const std::string &folder, const char *step)
{
    fprintf(stderr, "setup_walk: %s did not run to its end (screen in failed.bmp)\n", step);
    ui::saveScreen(folder + "\\failed.bmp");
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: setup_walk SETUP.EXE SCREENS-FOLDER\n");
        return 2;
    }
    std::string folder = argv[2];
    ui::Program setup;
    if (!setup.start(argv[1]) || !walkPages(waitForWizard(" Setup"), folder, "setup"))
        return failed(folder, "the setup program");
    setup.waitForExit();

    // The uninstaller hands over to a copy of itself and ends.
    ui::Program uninstaller;
    std::string path = uninstallerPath();
    if (path.empty() || !uninstaller.start(path) || !walkPages(waitForWizard(" Uninstall"), folder, "uninstall"))
        return failed(folder, "the uninstaller");
    return 0;
}
