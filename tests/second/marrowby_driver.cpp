// The shared part of Marrowby's session and task driver tests.
#include "marrowby_driver.h"

#include <tessaflat.h>

namespace md {

static const char MainCaption[] = "32-bit Network DDE Status";
// How long a test waits for something that must not happen.
static const DWORD QuietWait = 1500;

std::string errorReport(UINT code, const std::string &text)
{
    char number[16];
    wsprintfA(number, "%u", code);
    return std::string("NDDEAPI.DLL reports error #") + number + ".\r\n" + text + ".";
}

std::string errorReport(UINT code)
{
    char text[128] = "";
    NDdeGetErrorString(code, text, sizeof text);
    return errorReport(code, text);
}

std::string handleText(DWORD handle)
{
    char text[16];
    wsprintfA(text, "0x%08lx", handle);
    return text;
}

bool Marrowby::start(const std::string &directory)
{
    std::string path = directory.empty() ? ui::pathBeside("Marrowby.exe") : directory + "Marrowby.exe";
    if (!program_.start(path))
        return false;
    mainWindow = ui::waitForWindow(program_.processId(), nullptr, MainCaption);
    return mainWindow != NULL;
}

std::string Marrowby::commandTitle() const
{
    return ui::text(mainWindow, controlId(wndMain::lblMenuCmd));
}

bool Marrowby::waitForCommandTitle(const std::string &title)
{
    return ui::waitUntil([&] { return commandTitle() == title; });
}

bool Marrowby::choose(wndMain::MenuItem item)
{
    return ui::chooseCommand(mainWindow, commandId(item));
}

HWND Marrowby::open(wndMain::MenuItem item, const std::string &caption)
{
    return choose(item) ? waitForDialog(caption) : NULL;
}

HWND Marrowby::waitForDialog(const std::string &caption) const
{
    return ui::waitForDialog(program_.processId(), caption);
}

bool Marrowby::showsDialog(const std::string &caption) const
{
    return ui::waitForDialog(program_.processId(), caption, QuietWait) != NULL;
}

ui::MessageBoxView Marrowby::answer(int button)
{
    ui::MessageBoxView box;
    if (ui::waitForMessageBox(program_.processId(), box))
        ui::answerMessageBox(box, button);
    return box;
}

int Marrowby::lineWithData(HWND dialog, int list, DWORD data)
{
    int count = ui::listCount(dialog, list);
    for (int i = 0; i < count; i++)
        if ((DWORD)ui::listData(dialog, list, i) == data)
            return i;
    return -1;
}

ScriptedFolder::ScriptedFolder(const std::string &script)
{
    path_ = ui::makeScratchDirectory("marrowby-" + script);
    ready_ = !path_.empty() && ui::copyFileInto(ui::pathBeside("Marrowby.exe"), path_) &&
             ui::copyFileInto(ui::pathBeside("marrowby-script\\Tessaflat.dll"), path_) &&
             SetEnvironmentVariableA("MARROWBY_SCRIPT", script.c_str());
}

ScriptedFolder::~ScriptedFolder()
{
    SetEnvironmentVariableA("MARROWBY_SCRIPT", nullptr);
    if (!path_.empty())
        ui::removeDirectory(path_);
}

} // namespace md
